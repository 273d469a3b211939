// The command session on the AT device service: open, close, AT text and reboot.
#include <cstring>

#include "logging/log_helper.h"
#include "mbn/mbn_payload.h"
#include "mbn/mbn_text.h"
#include "mbn/varnick_mbim_manager.h"

void CVarnickMbimManager::PublishDeviceService(IMbnDeviceService* service)
{
    IMbnDeviceService* previous = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_state_lock);
        previous = m_device_service.exchange(service);
    }
    // Every out-pointer carries its own reference, also when the platform hands
    // back the object it handed out before.
    if (previous != nullptr) {
        previous->Release();
    }
}

IMbnDeviceService* CVarnickMbimManager::TakeDeviceService()
{
    std::lock_guard<std::mutex> lock(m_state_lock);
    return m_device_service.exchange(nullptr);
}

IMbnDeviceService* CVarnickMbimManager::AcquireDeviceService()
{
    std::lock_guard<std::mutex> lock(m_state_lock);
    IMbnDeviceService* service = m_device_service.load();
    if (service != nullptr) {
        service->AddRef();
    }
    return service;
}

std::string CVarnickMbimManager::AtResponse()
{
    std::lock_guard<std::mutex> lock(m_command_lock);
    return std::string(m_at_response);
}

std::string CVarnickMbimManager::InterfaceId()
{
    std::lock_guard<std::mutex> lock(m_state_lock);
    return std::string(m_interface_id);
}

int CVarnickMbimManager::OpenDeviceServices(std::string interfaceId)
{
    static const char* const kName = "CVarnickMbimManager::OpenDeviceServices";
    std::unique_lock<std::mutex> lock(m_mutex);
    LogScope scope(kName);

    if (!m_init_flag.load(std::memory_order_relaxed) || m_device_services_manager == nullptr) {
        LogHelper::Log(LOG_LEVEL_ERROR, kName, "mbim context not init.");
        return -1;
    }
    if (interfaceId.size() >= MBIM_INTERFACE_ID_SIZE) {
        LogHelper::Log(LOG_LEVEL_ERROR, kName, "interface id too long. length = %d",
                       static_cast<int>(interfaceId.size()));
        return -1;
    }

    BSTR interfaceBstr = AllocBstrFromNarrow(interfaceId);
    IMbnDeviceServicesContext* context = nullptr;
    HRESULT hr = interfaceBstr != nullptr
                     ? m_device_services_manager->GetDeviceServicesContext(interfaceBstr, &context)
                     : E_OUTOFMEMORY;
    SysFreeString(interfaceBstr);
    if (m_device_services_context != nullptr) {
        m_device_services_context->Release();
    }
    m_device_services_context = context;
    if (FAILED(hr) || context == nullptr) {
        LogHelper::Log(LOG_LEVEL_ERROR, kName, "GetDeviceServicesContext failed. result = 0x%08x",
                       static_cast<unsigned>(hr));
        return -1;
    }
    LogHelper::Log(LOG_LEVEL_INFO, kName, "GetDeviceServicesContext success. id = %s", interfaceId.c_str());

    BSTR serviceBstr = AllocBstrFromNarrow(VARNICK_AT_DEVICE_SERVICE_ID);
    IMbnDeviceService* service = nullptr;
    hr = serviceBstr != nullptr ? context->GetDeviceService(serviceBstr, &service) : E_OUTOFMEMORY;
    SysFreeString(serviceBstr);
    PublishDeviceService(service);
    if (FAILED(hr)) {
        LogHelper::Log(LOG_LEVEL_ERROR, kName, "GetDeviceService failed. result = 0x%08x",
                       static_cast<unsigned>(hr));
        return -1;
    }
    if (service == nullptr) {
        LogHelper::Log(LOG_LEVEL_INFO, kName, "GetDeviceService success but m_device_service is nullptr!!!");
        return -1;
    }

    {
        std::lock_guard<std::mutex> completion(m_open_lock);
        ResetEvent(m_open_cv);
    }
    // m_mutex is held, so CloseDeviceServices cannot take the service away here.
    ULONG requestId = 0;
    hr = service->OpenCommandSession(&requestId);
    if (FAILED(hr)) {
        LogHelper::Log(LOG_LEVEL_ERROR, kName, "OpenCommandSession error = 0x%08x.", static_cast<unsigned>(hr));
        return -1;
    }

    lock.unlock();
    const bool completed = WaitForSingleObject(m_open_cv, MBIM_OPEN_WAIT_MS) == WAIT_OBJECT_0;
    bool opened = false;
    {
        std::lock_guard<std::mutex> completion(m_open_lock);
        opened = m_open_ok;
    }
    lock.lock();

    if (!completed) {
        LogHelper::Log(LOG_LEVEL_INFO, kName, "OpenCommandSession time out");
        return -2;
    }
    if (!opened) {
        return -1;
    }
    {
        std::lock_guard<std::mutex> state(m_state_lock);
        std::memcpy(m_interface_id, interfaceId.c_str(), interfaceId.size() + 1);
    }
    return 0;
}

int CVarnickMbimManager::CloseDeviceServices()
{
    static const char* const kName = "CVarnickMbimManager::CloseDeviceServices";
    std::unique_lock<std::mutex> lock(m_mutex);
    LogHelper::WriteScopeLine('+', kName);

    if (!m_init_flag.load(std::memory_order_relaxed)) {
        LogHelper::Log(LOG_LEVEL_ERROR, kName, "mbim context not init.");
        return -1;
    }

    // Both objects leave the manager before the wait, so an operation that runs
    // while m_mutex is released neither closes them twice nor loses its own.
    IMbnDeviceService* service = TakeDeviceService();
    IMbnDeviceServicesContext* context = m_device_services_context;
    m_device_services_context = nullptr;

    if (service == nullptr) {
        LogHelper::Log(LOG_LEVEL_INFO, kName, "service has been closed already.");
    } else {
        ResetEvent(m_close_cv);
        ULONG requestId = 0;
        HRESULT hr = service->CloseCommandSession(&requestId);
        if (FAILED(hr)) {
            LogHelper::Log(LOG_LEVEL_INFO, kName, "CloseCommandSession result = 0x%08x.", static_cast<unsigned>(hr));
        } else {
            lock.unlock();
            const bool completed = WaitForSingleObject(m_close_cv, MBIM_CLOSE_WAIT_MS) == WAIT_OBJECT_0;
            lock.lock();
            if (!completed) {
                LogHelper::Log(LOG_LEVEL_INFO, kName, "Close handle time out");
            }
        }
        service->Release();
    }
    if (context != nullptr) {
        context->Release();
    }

    LogHelper::WriteScopeLine('-', kName);
    return 0;
}

int CVarnickMbimManager::SendCommandByATOverMBIM(const char* command)
{
    static const char* const kName = "CVarnickMbimManager::SendCommandByATOverMBIM";
    // Held through the wait as well: one command at a time owns the completion event.
    std::lock_guard<std::mutex> lock(m_command_mutex);

    if (!m_init_flag.load(std::memory_order_relaxed)) {
        LogHelper::Log(LOG_LEVEL_ERROR, kName, "m_init_flag = false. command at error return");
        return -1;
    }
    if (command == nullptr) {
        LogHelper::Log(LOG_LEVEL_ERROR, kName, "command == nullptr. command at error return");
        return -1;
    }
    LogHelper::LogSingleLine(kName, "at over mbim[TX]: %s", command);

    const size_t length = std::strlen(command);
    if (length > MBIM_MAX_COMMAND_LENGTH) {
        LogHelper::Log(LOG_LEVEL_ERROR, kName, "command too long. length = %d. command at error return",
                       static_cast<int>(length));
        return -1;
    }
    SAFEARRAY* payload = CreateAtCommandArray(command, length);
    if (payload == nullptr) {
        LogHelper::Log(LOG_LEVEL_ERROR, kName, "SafeArrayCreate failed. command at error return");
        return -1;
    }

    // Our own reference: a suspend may close the session on another thread meanwhile.
    IMbnDeviceService* service = AcquireDeviceService();
    if (service == nullptr) {
        SafeArrayDestroy(payload);
        LogHelper::Log(LOG_LEVEL_ERROR, kName, "m_device_service == nullptr. command at error return");
        return -1;
    }

    {
        std::lock_guard<std::mutex> completion(m_command_lock);
        ResetEvent(m_command_cv);
        m_command_wait = CommandWait::Sending;
        m_early_completions.clear();
    }
    ULONG requestId = 0;
    HRESULT hr = service->SetCommand(AT_COMMAND_ID, payload, &requestId);
    service->Release();
    SafeArrayDestroy(payload);
    if (FAILED(hr)) {
        {
            std::lock_guard<std::mutex> completion(m_command_lock);
            m_command_wait = CommandWait::None;  // what came early is dropped at the next send
        }
        LogHelper::Log(LOG_LEVEL_ERROR, kName, "SetCommand command at error result = 0x%08x",
                       static_cast<unsigned>(hr));
        return -1;
    }
    const size_t othersEarly = AwaitCommandRequest(requestId);
    if (othersEarly > 0) {
        LogHelper::Log(LOG_LEVEL_INFO, kName, "%d completion(s) of other requests came meanwhile. ignored.",
                       static_cast<int>(othersEarly));
    }

    const bool completed = WaitForSingleObject(m_command_cv, MBIM_COMMAND_WAIT_MS) == WAIT_OBJECT_0;
    bool succeeded = false;
    {
        std::lock_guard<std::mutex> completion(m_command_lock);
        m_command_wait = CommandWait::None;
        succeeded = m_command_ok;
    }
    if (!completed) {
        LogHelper::Log(LOG_LEVEL_ERROR, kName, "command at time out,pid = %d",
                       static_cast<int>(GetCurrentProcessId()));
        return -2;
    }
    return succeeded ? 0 : -1;
}

bool CVarnickMbimManager::SendRebootCommand()
{
    static const char* const kName = "CVarnickMbimManager::SendRebootCommand";
    std::lock_guard<std::mutex> lock(m_command_mutex);

    if (!m_init_flag.load(std::memory_order_relaxed)) {
        LogHelper::Log(LOG_LEVEL_ERROR, kName, "m_init_flag = false. command at error return");
        return false;
    }
    IMbnDeviceService* service = AcquireDeviceService();
    if (service == nullptr) {
        LogHelper::Log(LOG_LEVEL_ERROR, kName, "m_device_service == nullptr. command at error return");
        return false;
    }

    static const uint8_t kReboot[2] = {0x00, 0x11};
    SAFEARRAY* payload = CreateByteArray(kReboot, sizeof(kReboot));
    if (payload == nullptr) {
        service->Release();
        LogHelper::Log(LOG_LEVEL_ERROR, kName, "SafeArrayCreate failed. command at error return");
        return false;
    }
    ULONG requestId = 0;
    HRESULT hr = service->SetCommand(REBOOT_COMMAND_ID, payload, &requestId);
    service->Release();
    SafeArrayDestroy(payload);
    if (FAILED(hr)) {
        LogHelper::Log(LOG_LEVEL_ERROR, kName, "SetCommand reboot error result = 0x%08x", static_cast<unsigned>(hr));
        return false;
    }
    return true;
}
