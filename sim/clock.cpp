#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "sim/machine.h"

namespace sim {

void Clock::SetMode(Mode mode, double scale)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mode = mode;
    m_scale = scale;
}

void Clock::SetSleepHook(std::function<void(uint32_t milliseconds)> hook)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sleepHook = std::move(hook);
}

void Clock::Sleep(uint32_t milliseconds)
{
    std::function<void(uint32_t)> hook;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        hook = m_sleepHook;
    }
    if (hook) {
        hook(milliseconds);
    }
    Mode mode;
    double scale;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_sleeps.push_back({static_cast<uint32_t>(syscall(SYS_gettid)), milliseconds});
        mode = m_mode;
        scale = m_scale;
    }
    if (mode == Mode::Instant) {
        std::this_thread::yield();
        return;
    }
    double real = mode == Mode::Scaled ? milliseconds * scale : milliseconds;
    std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(real));
}

std::vector<Clock::SleepRecord> Clock::Sleeps() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sleeps;
}

void Clock::ClearSleeps()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sleeps.clear();
}

void Clock::PinWallTime(std::time_t seconds, uint16_t milliseconds)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pinned = true;
    m_pinnedSeconds = seconds;
    m_pinnedMilliseconds = milliseconds;
}

void Clock::AdvanceWallTime(std::time_t seconds)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pinnedSeconds += seconds;
}

void Clock::UnpinWallTime()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pinned = false;
}

void Clock::Now(std::time_t& seconds, uint16_t& milliseconds) const
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_pinned) {
            seconds = m_pinnedSeconds;
            milliseconds = m_pinnedMilliseconds;
            return;
        }
    }
    auto since = std::chrono::system_clock::now().time_since_epoch();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
    seconds = static_cast<std::time_t>(ms / 1000);
    milliseconds = static_cast<uint16_t>(ms % 1000);
}

void Clock::Reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mode = Mode::Real;
    m_scale = 1.0;
    m_sleeps.clear();
    m_sleepHook = nullptr;
    m_pinned = false;
}

}  // namespace sim
