// Observer side of the sinks' notification pattern.
#pragma once

class MbnSubject;
struct MbnEventInfo;

class MbnObserver {
public:
    virtual ~MbnObserver() = default;

    // Called by MbnSubject::Notify on the COM thread that delivered the event,
    // with the subject's lock held. Must not call back into the same subject.
    virtual void update(MbnSubject* subject, const MbnEventInfo* info) = 0;
};
