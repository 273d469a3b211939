// Subject side of the sinks' notification pattern: each event sink hands its
// records to the observers attached to it (in practice only the manager).
#pragma once

#include <mutex>
#include <vector>

#include "mbn/mbn_observer.h"

struct MbnEventInfo;

class MbnSubject {
public:
    MbnSubject() = default;
    virtual ~MbnSubject() = default;
    MbnSubject(const MbnSubject&) = delete;
    MbnSubject& operator=(const MbnSubject&) = delete;

    // Appends the observer, under the subject's lock.
    virtual void Attach(MbnObserver* observer);
    // Empties the observer list, under the subject's lock (a subject has at
    // most one observer); waits for a delivery in progress.
    virtual void Detach(MbnObserver* observer);
    // Calls update on every observer in list order, one record at a time. An
    // exception thrown by an observer ends the delivery of this record and is
    // logged; it never reaches the caller.
    virtual void Notify(const MbnEventInfo* info);

    // Number of attached observers (for diagnostics and tests).
    size_t ObserverCount();

protected:
    std::mutex m_mutex;
    std::vector<MbnObserver*> m_observers;  // not owned
};
