// The simulated laptop's suspend/resume notifications: registrations made
// through RegisterSuspendResumeNotification and a system notification thread
// that calls every live registration with the power events a test sends.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

namespace sim {

class Power {
public:
    using Callback = uint32_t (*)(void* context, uint32_t type, void* setting);

    // A registration id (never 0), or 0 with the error set by FailRegistrations.
    uintptr_t Register(Callback callback, void* context, uint32_t& error);
    // False for an id that is not registered.
    bool Unregister(uintptr_t id);
    // Every later Register fails with `error` (0: registrations succeed again).
    void FailRegistrations(uint32_t error);

    // Delivers the event on a notification thread of its own to every
    // registration live when the thread runs; returns once it has finished.
    void Send(uint32_t type);
    size_t Registrations() const;
    // Called on the notification thread once it has taken the live registrations
    // and before it calls them: a test lines up what happens while an event is in
    // flight. An empty function clears it.
    void SetDeliveryHook(std::function<void(uint32_t type)> hook);
    void Reset();

private:
    struct Entry {
        Callback callback;
        void* context;
    };
    mutable std::mutex m_mutex;
    std::mutex m_delivery;  // one notification thread at a time, as the system serialises them
    std::map<uintptr_t, Entry> m_entries;
    uintptr_t m_nextId = 1;
    uint32_t m_failure = 0;
    std::function<void(uint32_t)> m_deliveryHook;
};

}  // namespace sim
