// Events from the sinks, on the platform's threads: completions wake the waiting
// operation, arrivals and removals of the modem become service tasks.
// Never takes m_mutex: UnInit holds it while it detaches from the subjects.
#include <cstring>

#include "core/state/halvex_service.h"
#include "logging/log_helper.h"
#include "mbn/mbn_payload.h"
#include "mbn/mbn_text.h"
#include "mbn/varnick_mbim_manager.h"

namespace {

const char* const kUpdate = "CVarnickMbimManager::update";
// Completions kept while SetCommand has not returned: its own and any late ones.
constexpr size_t kMaxEarlyCompletions = 4;

void MarkDeviceRemoved(bool removed)
{
    CHalvexService::GetInstance()->m_bDeviceRemoved.store(removed, std::memory_order_relaxed);
}

void PostTask(TaskId id)
{
    CHalvexService::GetInstance()->ServiceTaskQueuePush(id);
}

// Whether an event's interface id names the modem we opened; an empty id names
// no interface, not even before the first open.
bool IsOurInterface(const std::string& id, const std::string& current)
{
    return !id.empty() && id == current;
}

// The id of an interface object; false when it cannot be read.
bool ReadInterfaceId(IUnknown* object, std::string& id)
{
    if (object == nullptr) {
        return false;
    }
    IMbnInterface* mbnInterface = static_cast<IMbnInterface*>(object);
    BSTR text = nullptr;
    const HRESULT hr = mbnInterface->get_InterfaceID(&text);
    if (hr == S_OK) {
        id = NarrowFromBstr(text);
    }
    SysFreeString(text);
    return hr == S_OK;
}

}  // namespace

void CVarnickMbimManager::update(MbnSubject* /*subject*/, const MbnEventInfo* info)
{
    if (info == nullptr) {
        return;
    }
    if (info->source == MBN_EVENT_SOURCE_INTERFACE_MANAGER) {
        OnInterfaceManagerEvent(*info);
        return;
    }
    if (info->source != MBN_EVENT_SOURCE_DEVICE_SERVICES) {
        return;
    }

    switch (info->service_event) {
    case DS_EVENT_OPEN_COMMAND_SESSION_COMPLETE:
        LogHelper::Log(LOG_LEVEL_INFO, kUpdate, "open command complete. status=0x%08x",
                       static_cast<unsigned>(info->status));
        {
            std::lock_guard<std::mutex> lock(m_open_lock);
            m_open_ok = (info->status == 0);
            SetEvent(m_open_cv);
        }
        break;
    case DS_EVENT_CLOSE_COMMAND_SESSION_COMPLETE:
        LogHelper::Log(LOG_LEVEL_INFO, kUpdate, "close command complete. status=0x%08x",
                       static_cast<unsigned>(info->status));
        SetEvent(m_close_cv);
        break;
    case DS_EVENT_SET_COMMAND_COMPLETE:
        OnSetCommandComplete(*info);
        break;
    case DS_EVENT_QUERY_COMMAND_COMPLETE:
        OnQueryCommandComplete(*info);
        break;
    case DS_EVENT_INTERFACE_STATE_CHANGE:
        OnCapableInterfaceChange(*info);
        break;
    default:
        break;
    }
}

void CVarnickMbimManager::OnSetCommandComplete(const MbnEventInfo& info)
{
    LogHelper::Log(LOG_LEVEL_INFO, kUpdate, "set command complete. status=0x%08x",
                   static_cast<unsigned>(info.status));
    CommandCompletion completion;
    completion.requestId = info.request_id;
    completion.ok = info.status == 0;
    if (completion.ok) {
        // Zero bytes (the header among them) are dropped; a reply without data is empty.
        completion.reply = ReplyTextFromArray(info.data, MBIM_AT_RESPONSE_SIZE - 1);
    }
    {
        std::lock_guard<std::mutex> lock(m_command_lock);
        if (m_command_wait == CommandWait::Sending) {
            // Possibly the command's own: kept until SetCommand tells its id.
            if (m_early_completions.size() < kMaxEarlyCompletions) {
                m_early_completions.push_back(std::move(completion));
            }
            return;
        }
        if (m_command_wait == CommandWait::Waiting && completion.requestId == m_command_request) {
            AcceptCommandCompletionLocked(completion);
            return;
        }
    }
    LogHelper::Log(LOG_LEVEL_INFO, kUpdate, "set command complete of request %u, which no command waits for. ignored.",
                   static_cast<unsigned>(info.request_id));
}

size_t CVarnickMbimManager::AwaitCommandRequest(ULONG requestId)
{
    std::lock_guard<std::mutex> lock(m_command_lock);
    m_command_request = requestId;
    m_command_wait = CommandWait::Waiting;
    size_t others = 0;
    for (const CommandCompletion& early : m_early_completions) {
        if (early.requestId == requestId && m_command_wait == CommandWait::Waiting) {
            AcceptCommandCompletionLocked(early);
        } else {
            ++others;
        }
    }
    m_early_completions.clear();
    return others;
}

void CVarnickMbimManager::AcceptCommandCompletionLocked(const CommandCompletion& completion)
{
    // A failed command leaves the previous reply in place.
    if (completion.ok) {
        std::memcpy(m_at_response, completion.reply.c_str(), completion.reply.size() + 1);
    }
    m_command_ok = completion.ok;
    m_command_wait = CommandWait::None;
    SetEvent(m_command_cv);
}

void CVarnickMbimManager::OnQueryCommandComplete(const MbnEventInfo& info)
{
    LogHelper::Log(LOG_LEVEL_INFO, kUpdate, "query command complete. status=0x%08x",
                   static_cast<unsigned>(info.status));
    int32_t mode = 0;
    if (info.status == 0 && FirstInt32FromArray(info.data, mode)) {
        LogHelper::Log(LOG_LEVEL_INFO, kUpdate, "query command complete. cfun mode = %d.", static_cast<int>(mode));
    }
}

void CVarnickMbimManager::OnCapableInterfaceChange(const MbnEventInfo& info)
{
    if (info.interface_state == 0) {
        LogHelper::Log(LOG_LEVEL_INFO, kUpdate, "MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_ARRIVAL");
        MarkDeviceRemoved(false);
        PostTask(TASK_ID_DEFAULT);
    } else if (info.interface_state == 1) {
        const std::string current = InterfaceId();
        LogHelper::Log(LOG_LEVEL_INFO, kUpdate, "MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_REMOVAL");
        LogHelper::Log(LOG_LEVEL_INFO, kUpdate, "%s capable interface removed.", info.interface_id.c_str());
        LogHelper::Log(LOG_LEVEL_INFO, kUpdate, "%s current", current.c_str());
        if (IsOurInterface(info.interface_id, current)) {
            LogHelper::Log(LOG_LEVEL_INFO, kUpdate, "%s capable interface removed. Stop any action.",
                           current.c_str());
            MarkDeviceRemoved(true);
            PostTask(TASK_ID_SUPRISE_REMOVE);
        }
    }
}

void CVarnickMbimManager::OnInterfaceManagerEvent(const MbnEventInfo& info)
{
    std::string id;
    if (info.event_index == 0) {
        LogHelper::Log(LOG_LEVEL_INFO, kUpdate, "interface arrival.");
        if (ReadInterfaceId(info.object, id)) {
            LogHelper::Log(LOG_LEVEL_INFO, kUpdate, "%s arrival.", id.c_str());
            if (IsOurInterface(id, InterfaceId())) {
                MarkDeviceRemoved(false);
            }
            PostTask(TASK_ID_DEFAULT);
        }
    } else if (info.event_index == 1) {
        LogHelper::Log(LOG_LEVEL_INFO, kUpdate, "interface removal.");
        if (ReadInterfaceId(info.object, id)) {
            const std::string current = InterfaceId();
            if (IsOurInterface(id, current)) {
                LogHelper::Log(LOG_LEVEL_INFO, kUpdate, "%s interface removed. Stop any action.", current.c_str());
                MarkDeviceRemoved(true);
                PostTask(TASK_ID_SUPRISE_REMOVE);
            }
        }
    }
}
