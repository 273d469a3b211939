#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

#include "log_file.h"
#include "logging/log_helper.h"
#include "machine_fixture.h"
#include "mbn/mbn_event_info.h"
#include "mbn/mbn_subject.h"

namespace {

class CallObserver : public MbnObserver {
public:
    explicit CallObserver(std::function<void(MbnSubject*, const MbnEventInfo*)> call) : m_call(std::move(call)) {}
    void update(MbnSubject* subject, const MbnEventInfo* info) override { m_call(subject, info); }

private:
    std::function<void(MbnSubject*, const MbnEventInfo*)> m_call;
};

}  // namespace

using MbnSubjectTest = MachineTest;

// Observers are called in order with the subject and the record; a throwing
// one ends the delivery, is logged and leaves the subject usable; Detach
// empties the whole list.
TEST_F(MbnSubjectTest, NotifyCallsObserversInOrderAndSurvivesAThrowingOne)
{
    LogHelper::Init();
    MbnSubject subject;
    std::vector<uint32_t> calls;
    bool throws = false;
    CallObserver first([&](MbnSubject* from, const MbnEventInfo* info) {
        EXPECT_EQ(from, &subject);
        calls.push_back(100 + info->source);
        if (throws) {
            throw std::runtime_error("observer failed");
        }
    });
    CallObserver second([&](MbnSubject*, const MbnEventInfo* info) { calls.push_back(200 + info->source); });
    subject.Attach(&first);
    subject.Attach(&second);

    MbnEventInfo info;
    info.source = 13;
    subject.Notify(&info);
    subject.Notify(nullptr);  // no record: nobody is called
    EXPECT_EQ(calls, (std::vector<uint32_t>{113, 213}));
    throws = true;
    EXPECT_NO_THROW(subject.Notify(&info));
    EXPECT_EQ(calls, (std::vector<uint32_t>{113, 213, 113}));

    subject.Detach(&second);
    EXPECT_EQ(subject.ObserverCount(), 0u);
    subject.Notify(&info);
    EXPECT_EQ(calls.size(), 3u);
    EXPECT_EQ(testsupport::ShutdownAndReadLogMessages(), (std::vector<std::string>{"i :   Notify exception."}));
}

TEST_F(MbnSubjectTest, DetachWaitsForADeliveryInProgress)
{
    std::promise<void> entered;
    std::promise<void> release;
    std::atomic<bool> detached{false};
    CallObserver observer([&](MbnSubject*, const MbnEventInfo*) {
        entered.set_value();
        release.get_future().wait();
        EXPECT_FALSE(detached);
    });
    MbnSubject subject;
    subject.Attach(&observer);
    MbnEventInfo info;
    std::thread notifier([&] { subject.Notify(&info); });
    entered.get_future().wait();
    std::thread detacher([&] {
        subject.Detach(&observer);
        detached = true;
    });
    // Time for the detacher to reach Detach while the delivery is still running.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    release.set_value();
    detacher.join();
    notifier.join();
    EXPECT_TRUE(detached);
}
