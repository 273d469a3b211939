#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "log_file.h"
#include "logging/log_helper.h"
#include "machine_fixture.h"
#include "mbn/mbn_event_info.h"
#include "mbn/mbn_subject.h"

namespace {

// Appends its tag to a shared list on every update; may throw.
class TaggingObserver : public MbnObserver {
public:
    TaggingObserver(std::vector<int>& order, int tag, bool throws = false) : m_order(order), m_tag(tag), m_throws(throws)
    {
    }
    void update(MbnSubject* subject, const MbnEventInfo* info) override
    {
        lastSubject = subject;
        lastSource = info->source;
        m_order.push_back(m_tag);
        if (m_throws) {
            throw std::runtime_error("observer failed");
        }
    }
    MbnSubject* lastSubject = nullptr;
    uint32_t lastSource = 0;

private:
    std::vector<int>& m_order;
    int m_tag;
    bool m_throws;
};

}  // namespace

using MbnSubjectTest = MachineTest;

TEST_F(MbnSubjectTest, NotifyCallsObserversInOrderWithSubjectAndRecordAndDetachEmptiesTheList)
{
    MbnSubject subject;
    std::vector<int> order;
    TaggingObserver first(order, 1);
    TaggingObserver second(order, 2);
    subject.Attach(&first);
    subject.Attach(&second);

    MbnEventInfo info;
    info.source = 13;
    subject.Notify(&info);
    subject.Notify(nullptr);  // no record: nobody is called
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_EQ(first.lastSubject, &subject);
    EXPECT_EQ(second.lastSource, 13u);

    subject.Detach(&first);  // empties the whole list
    EXPECT_EQ(subject.ObserverCount(), 0u);
    subject.Notify(&info);
    EXPECT_EQ(order.size(), 2u);
}

TEST_F(MbnSubjectTest, AThrowingObserverEndsTheDeliveryAndIsLoggedOnce)
{
    LogHelper::Init();
    MbnSubject subject;
    std::vector<int> order;
    TaggingObserver thrower(order, 1, true);
    TaggingObserver later(order, 2);
    subject.Attach(&thrower);
    subject.Attach(&later);

    MbnEventInfo info;
    EXPECT_NO_THROW(subject.Notify(&info));
    EXPECT_EQ(order, (std::vector<int>{1}));

    // The lock was released: the subject still works.
    subject.Detach(&thrower);
    subject.Attach(&later);
    subject.Notify(&info);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));

    auto lines = testsupport::ShutdownAndReadLogMessages();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "i :   Notify exception."), 1);
}

TEST_F(MbnSubjectTest, DetachWaitsForADeliveryInProgress)
{
    class SlowObserver : public MbnObserver {
    public:
        void update(MbnSubject*, const MbnEventInfo*) override
        {
            entered = true;
            while (!release) {
                std::this_thread::yield();
            }
            finished = true;
        }
        std::atomic<bool> entered{false};
        std::atomic<bool> release{false};
        std::atomic<bool> finished{false};
    };
    MbnSubject subject;
    SlowObserver observer;
    subject.Attach(&observer);
    MbnEventInfo info;
    std::thread notifier([&] { subject.Notify(&info); });
    while (!observer.entered) {
        std::this_thread::yield();
    }
    std::atomic<bool> detached{false};
    std::thread detacher([&] {
        subject.Detach(&observer);
        detached = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(detached);  // still blocked behind the delivery
    observer.release = true;
    detacher.join();
    notifier.join();
    EXPECT_TRUE(observer.finished);
    EXPECT_TRUE(detached);
}
