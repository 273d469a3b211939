// The DPR check: query every configured setting, rewrite the ones that differ,
// then switch the DPR pin on and reboot the modem.
#include <climits>

#include "config/config_model.h"
#include "config/dpr_method.h"
#include "core/bring_up_limits.h"
#include "core/state/halvex_service.h"
#include "logging/log_helper.h"
#include "mbn/varnick_mbim_manager.h"

namespace {

const char* const kCheck = "CHalvexService::tryQueryAndConfigDpr";
const char* const kPin = "CHalvexService::trySetDprPin";
const char* const kReboot = "CHalvexService::tryRebootDevice";

// Consecutive failed query sends, across tasks; reset only by a sent query.
// Only the worker thread touches it.
int32_t g_nQuerySendFailCount = 0;
using BringUpLimits::kMaxQuerySendRetries;
using BringUpLimits::kQueryRetryWaitMs;

// Sends one command; an empty text (a command that could not be formatted) is
// a failure and is never sent.
int SendAt(const std::string& command)
{
    if (command.empty()) {
        return -1;
    }
    return CVarnickMbimManager::GetInstance()->SendCommandByATOverMBIM(command.c_str());
}

// The reply of the command just sent, logged on one line.
std::string LoggedReply(const char* function)
{
    const std::string reply = CVarnickMbimManager::GetInstance()->AtResponse();
    LogHelper::LogSingleLine(function, "at over mbim[RX]: %s", reply.c_str());
    return reply;
}

}  // namespace

bool CHalvexService::tryQueryAndConfigDpr(const ModuleConfig& config)
{
    const DprMethod method = MethodOf(config.method);
    const bool allBand = method == DprMethod::AllBand;
    if (method == DprMethod::Unknown) {
        LogHelper::Log(LOG_LEVEL_ERROR, kCheck, "Error config method");
        return false;
    }
    CVarnickMbimManager* manager = CVarnickMbimManager::GetInstance();
    bool rewritten = false;
    for (const DprSetting& setting : config.dprs) {
        if (!ModeTakenUp(method, setting.mode)) {
            continue;
        }
        if (allBand) {
            LogHelper::Log(LOG_LEVEL_INFO, kCheck, "------> start check %s", setting.mode.c_str());
        } else {
            LogHelper::Log(LOG_LEVEL_INFO, kCheck, "------> start check %s, band %d", setting.mode.c_str(),
                           setting.band);
        }

        if (SendAt(formatQueryCommand(setting)) != 0) {
            const int32_t failures = g_nQuerySendFailCount;
            if (g_nQuerySendFailCount < INT32_MAX) {
                ++g_nQuerySendFailCount;
            }
            if (failures >= kMaxQuerySendRetries) {
                LogHelper::Log(LOG_LEVEL_INFO, kCheck, "Error sending arrived max times");
                return false;
            }
            // Start the whole bring-up again from a fresh manager.
            LogHelper::Log(LOG_LEVEL_INFO, kCheck, "Error send.retry count = %d", g_nQuerySendFailCount);
            manager->CloseDeviceServices();
            manager->UnInit();
            ServiceTaskQueuePush(TASK_ID_DEFAULT);
            Sleep(kQueryRetryWaitMs);
            return false;
        }
        g_nQuerySendFailCount = 0;
        if (parseResultAndCompare(LoggedReply(kCheck), setting)) {
            continue;
        }

        if (SendAt(formatConfigCommand(setting)) != 0) {
            return false;
        }
        if (LoggedReply(kCheck).find("OK") != std::string::npos) {
            rewritten = true;
        }
    }
    return rewritten;
}

void CHalvexService::trySetDprPin()
{
    static const char* const kPinCommands[] = {
        "at+vcfg=\"rf/sar/gpioctl\",1,250\r\n",
        "at+vsar=2,1\r\n",
    };
    for (const char* command : kPinCommands) {
        if (SendAt(command) == 0) {
            LoggedReply(kPin);
        }
    }
}

bool CHalvexService::tryRebootDevice()
{
    CVarnickMbimManager* manager = CVarnickMbimManager::GetInstance();
    if (manager->m_device_service.load() == nullptr) {
        return false;
    }
    if (manager->SendRebootCommand()) {
        LogHelper::Log(LOG_LEVEL_INFO, kReboot, "wait for device reboot...");
        return true;
    }
    LogHelper::Log(LOG_LEVEL_INFO, kReboot, "Error reboot failed.");
    return false;
}
