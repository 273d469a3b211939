// The bring-up run of a TASK_ID_DEFAULT task: platform, manager, interface,
// AT device service, then the DPR check with the pin and the reboot.
#include <climits>
#include <cstdint>
#include <cstring>

#include "config/config_model.h"
#include "core/bring_up_limits.h"
#include "core/state/halvex_service.h"
#include "logging/log_helper.h"
#include "mbn/varnick_mbim_manager.h"

namespace {

const char* const kDeal = "CHalvexService::dealDefaultTask";
const char* const kInit = "CHalvexService::tryInitMbimContext";
const char* const kFind = "CHalvexService::tryFindMbimInterfaceID";
const char* const kOpen = "CHalvexService::tryOpenATService";

const char* const kDormant = "IfOperStatusDormant";

using namespace BringUpLimits;

}  // namespace

bool CHalvexService::AbortRequested() const
{
    return m_bDeviceRemoved.load(std::memory_order_relaxed) || m_bStopRequested.load(std::memory_order_relaxed) ||
           m_bSuspended.load(std::memory_order_relaxed);
}

bool CHalvexService::dealDefaultTask()
{
    // The run's own copy of the configuration entry, released on every path.
    ModuleConfig config;
    if (!VerifyPlatform(config)) {
        LogHelper::Log(LOG_LEVEL_ERROR, kDeal, "ERROR : current project is not supported.");
        return false;
    }
    if (!tryInitMbimContext() || !tryFindMbimInterfaceID() || !tryOpenATService() ||
        !tryQueryAndConfigDpr(config)) {
        return false;
    }
    // A removal may have closed the device service during the check.
    if (CVarnickMbimManager::GetInstance()->m_device_service.load() == nullptr) {
        return false;
    }
    trySetDprPin();
    return tryRebootDevice();
}

bool CHalvexService::tryInitMbimContext()
{
    CVarnickMbimManager* manager = CVarnickMbimManager::GetInstance();
    for (int attempt = 1;; ++attempt) {
        if (manager->m_init_flag.load(std::memory_order_relaxed)) {
            Sleep(kInitializedWaitMs);
            return !AbortRequested();
        }
        if (manager->Init() == 0) {
            LogHelper::Log(LOG_LEVEL_INFO, kInit, "ReInit Mbim Success!");
            return true;
        }
        if (attempt >= kMaxInitAttempts) {
            LogHelper::Log(LOG_LEVEL_INFO, kInit, "thread init mbim context failed! max times.");
            return false;
        }
        LogHelper::Log(LOG_LEVEL_INFO, kInit, "thread init mbim context failed! retry %d", attempt);
        Sleep(kInitRetryWaitMs);
        if (AbortRequested()) {
            return false;
        }
    }
}

bool CHalvexService::tryFindMbimInterfaceID()
{
    int emptyLookups = 0;
    int dormantReadings = 0;
    while (true) {
        const std::string id = GetMbimInterfaceID();
        if (id.empty()) {
            if (++emptyLookups >= kMaxEmptyLookups) {
                LogHelper::Log(LOG_LEVEL_INFO, kFind, "retry max times. stop find!\n");
                return false;
            }
            LogHelper::Log(LOG_LEVEL_INFO, kFind, "get mbim interface id failed. retry %d times\n", emptyLookups);
            Sleep(kLookupRetryWaitMs);
            if (AbortRequested()) {
                return false;
            }
            continue;
        }
        emptyLookups = 0;

        if (id == kDormant) {
            LogHelper::Log(LOG_LEVEL_INFO, kFind, "wwan state = IfOperStatusDormant.");
            Sleep(kDormantWaitMs);
            if (AbortRequested()) {
                return false;
            }
            if (++dormantReadings >= kMaxDormantReadings) {
                // Go on with the id stored before, if any.
                LogHelper::Log(LOG_LEVEL_INFO, kFind, "retry max times. !\n");
                return true;
            }
            continue;
        }

        // An id that does not fit would be cut into another id: refuse it.
        if (id.size() >= sizeof(m_szInterfaceId)) {
            LogHelper::Log(LOG_LEVEL_ERROR, kFind, "interface id too long. length = %d", static_cast<int>(id.size()));
            return false;
        }
        std::memcpy(m_szInterfaceId, id.c_str(), id.size() + 1);
        LogHelper::Log(LOG_LEVEL_INFO, kFind, "wwan interface id = %s.", m_szInterfaceId);
        return true;
    }
}

bool CHalvexService::tryOpenATService()
{
    CVarnickMbimManager* manager = CVarnickMbimManager::GetInstance();
    if (m_bATServiceOpened && manager->m_device_service.load() != nullptr) {
        LogHelper::Log(LOG_LEVEL_ERROR, kOpen, "already open. ptr = %d",
                       static_cast<int>(reinterpret_cast<intptr_t>(this)));
        return true;
    }

    const int result = manager->OpenDeviceServices(std::string(m_szInterfaceId));
    if (result == 0) {
        m_nOpenRetryCount = 0;
        LogHelper::Log(LOG_LEVEL_INFO, kOpen, "open device services successed!");
        m_bATServiceOpened = true;
        return true;
    }
    if (result == -2) {
        // Opened, but its confirmation came too late: try the commands anyway.
        LogHelper::Log(LOG_LEVEL_INFO, kOpen, "open device services successed! But get no response.");
        return true;
    }

    const int32_t failures = m_nOpenRetryCount;
    if (m_nOpenRetryCount < INT32_MAX) {
        ++m_nOpenRetryCount;
    }
    if (failures >= kMaxOpenRetries) {
        LogHelper::Log(LOG_LEVEL_ERROR, kOpen, "try open decvice service arrived max times.");
        return false;
    }
    // Start again from a fresh manager in a new task.
    manager->CloseDeviceServices();
    manager->UnInit();
    LogHelper::Log(LOG_LEVEL_INFO, kOpen, "open device services failed. wait for retry! retry count = %d",
                   m_nOpenRetryCount);
    ServiceTaskQueuePush(TASK_ID_DEFAULT);
    Sleep(kOpenRetryWaitMs);
    return false;
}
