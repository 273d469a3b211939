#include "sim/power.h"

#include <thread>
#include <vector>

namespace sim {

uintptr_t Power::Register(Callback callback, void* context, uint32_t& error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_failure != 0) {
        error = m_failure;
        return 0;
    }
    const uintptr_t id = m_nextId++;
    m_entries[id] = {callback, context};
    return id;
}

bool Power::Unregister(uintptr_t id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.erase(id) == 1;
}

void Power::FailRegistrations(uint32_t error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failure = error;
}

void Power::Send(uint32_t type)
{
    std::lock_guard<std::mutex> delivery(m_delivery);
    std::thread notifier([this, type] {
        std::vector<Entry> entries;
        std::function<void(uint32_t)> hook;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (const auto& item : m_entries) {
                entries.push_back(item.second);
            }
            hook = m_deliveryHook;
        }
        if (hook) {
            hook(type);
        }
        for (const auto& entry : entries) {
            entry.callback(entry.context, type, nullptr);
        }
    });
    notifier.join();
}

size_t Power::Registrations() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.size();
}

void Power::SetDeliveryHook(std::function<void(uint32_t type)> hook)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_deliveryHook = std::move(hook);
}

void Power::Reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.clear();
    m_deliveryHook = nullptr;
    m_nextId = 1;
    m_failure = 0;
}

}  // namespace sim
