#include "mbn/mbn_subject.h"

#include "logging/log_helper.h"

void MbnSubject::Attach(MbnObserver* observer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_observers.push_back(observer);
}

void MbnSubject::Detach(MbnObserver* /*observer*/)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_observers.clear();
}

void MbnSubject::Notify(const MbnEventInfo* info)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    try {
        for (MbnObserver* observer : m_observers) {
            if (observer != nullptr && info != nullptr) {
                observer->update(this, info);
            }
        }
    } catch (...) {
        // An observer's failure must never travel back into the platform's thread.
        LogHelper::Log(LOG_LEVEL_INFO, "MbnSubject::Notify", "Notify exception.");
    }
}

size_t MbnSubject::ObserverCount()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_observers.size();
}
