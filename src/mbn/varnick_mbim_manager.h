// The service's single gateway to the Mobile Broadband API: COM set-up, the
// five event sinks, the vendor device service that carries AT commands, and
// the dispatch of the sinks' events into completions and service tasks.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <ocidl.h>
#include <mbnapi.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "mbn/mbn_event_info.h"
#include "mbn/mbn_observer.h"
#include "mbn/mbn_sinks.h"

// The vendor device service that carries AT commands.
constexpr const char* VARNICK_AT_DEVICE_SERVICE_ID = "{5B3C90A2-7E41-4D8A-9C06-2F7D1B84E6A3}";
constexpr ULONG AT_COMMAND_ID = 8;
constexpr ULONG REBOOT_COMMAND_ID = 12;

// Longest waits for the completions, in milliseconds.
constexpr DWORD MBIM_OPEN_WAIT_MS = 1500;
constexpr DWORD MBIM_CLOSE_WAIT_MS = 500;
constexpr DWORD MBIM_COMMAND_WAIT_MS = 3000;

// Fixed buffers: the AT reply text and the interface id, each NUL-terminated.
constexpr size_t MBIM_AT_RESPONSE_SIZE = 1024;
constexpr size_t MBIM_INTERFACE_ID_SIZE = 64;
// The command text must leave room for the 4-byte header in a 1024-byte payload.
constexpr size_t MBIM_MAX_COMMAND_LENGTH = 1020;

class CVarnickMbimManager : public MbnObserver {
public:
    typedef std::pair<IConnectionPoint*, DWORD> SinkCookie;

    // The process-wide manager, created on first use, kept until the process ends.
    static CVarnickMbimManager* GetInstance();

    CVarnickMbimManager(const CVarnickMbimManager&) = delete;
    CVarnickMbimManager& operator=(const CVarnickMbimManager&) = delete;

    // Enters the multithreaded apartment, creates the three manager objects and
    // advises the five sinks. 0 when initialised (also when it already was),
    // -1 when a manager object could not be created.
    int Init();
    // Unadvises the sinks and releases the manager objects. Does not close the
    // device service session (CloseDeviceServices does).
    void UnInit();
    // Advises the sink on the object's connection point for the events id; the
    // pair keeps a reference to the connection point. (none, 0) on any failure.
    SinkCookie register_sink(IUnknown* sink, IUnknown* object, REFIID eventsIid);
    // True when Unadvise succeeded.
    bool varnick_deresigter_sink(IConnectionPoint* point, DWORD cookie);

    // Opens a command session on the AT device service of the interface.
    // 0 open, -1 failure, -2 no completion within 1.5 s.
    int OpenDeviceServices(std::string interfaceId);
    // Closes the session (0, also when nothing was open); -1 when not initialised.
    int CloseDeviceServices();
    // Sends AT command text; 0 with the reply in the AT response, -1 failure,
    // -2 no completion within 3 s.
    int SendCommandByATOverMBIM(const char* command);
    // True when the modem accepted the reboot request (no wait for its completion).
    bool SendRebootCommand();

    // Completions and interface arrivals/removals from the sinks (COM threads).
    void update(MbnSubject* subject, const MbnEventInfo* info) override;

    // A copy of the text of the last successful command reply. The buffer is
    // written by completions on COM threads, so it is read only through here.
    std::string AtResponse();
    // A copy of the interface id of the last successful OpenDeviceServices.
    std::string InterfaceId();

    std::mutex m_mutex;          // Init, UnInit, OpenDeviceServices, CloseDeviceServices
    std::mutex m_command_mutex;  // SendCommandByATOverMBIM, SendRebootCommand
    std::atomic<bool> m_init_flag{false};

private:
    // A set-command completion as the sink delivered it.
    struct CommandCompletion {
        ULONG requestId = 0;
        bool ok = false;
        std::string reply;  // with status 0 only
    };
    // Where the one AT command in flight is: its completion is taken only
    // once SetCommand has returned its request id, and only with that id.
    enum class CommandWait { None, Sending, Waiting };

    // Guarded by m_open_lock / m_command_lock.
    bool m_open_ok = false;
    bool m_command_ok = false;
    char m_at_response[MBIM_AT_RESPONSE_SIZE] = {};
    CommandWait m_command_wait = CommandWait::None;
    ULONG m_command_request = 0;  // while Waiting
    // Completions that came while SetCommand had not yet returned (a few at most).
    std::vector<CommandCompletion> m_early_completions;
    // Guarded by m_state_lock.
    char m_interface_id[MBIM_INTERFACE_ID_SIZE] = {};

public:
    // Guarded by m_mutex.
    std::vector<SinkCookie> m_sink_cookies;
    IMbnDeviceServicesManager* m_device_services_manager = nullptr;
    // Written under m_mutex and m_state_lock; readable anywhere for a null test.
    // Users of the object take their own reference under m_state_lock.
    std::atomic<IMbnDeviceService*> m_device_service{nullptr};
    IMbnInterfaceManager* m_interface_manager = nullptr;
    IMbnConnectionManager* m_connection_manager = nullptr;
    IMbnDeviceServicesContext* m_device_services_context = nullptr;  // guarded by m_mutex
    // Each holds one reference for as long as the manager lives.
    CInterfaceManagerEventsSink* m_interface_manager_sink = nullptr;
    CInterfaceEventsSink* m_interface_sink = nullptr;
    CDeviceServicesSink* m_device_services_sink = nullptr;
    CConnectionEventsSink* m_connection_sink = nullptr;
    CRegistrationEventsSink* m_registration_sink = nullptr;
    // Each is an auto-reset event that wakes exactly one waiter.
    HANDLE m_open_cv = nullptr;
    HANDLE m_close_cv = nullptr;
    HANDLE m_command_cv = nullptr;

private:
    CVarnickMbimManager();
    ~CVarnickMbimManager() override;

    void CreateMissingSinks();
    void RegisterOneSink(IUnknown* sink, MbnSubject* subject, IUnknown* object, REFIID eventsIid,
                         const char* failureMessage);
    void ReleaseManagerObjects();

    // Replaces the published device service (releasing the previous one).
    void PublishDeviceService(IMbnDeviceService* service);
    // Takes the published device service out (the caller owns its reference).
    IMbnDeviceService* TakeDeviceService();
    // A new reference to the published device service, or null.
    IMbnDeviceService* AcquireDeviceService();

    void OnSetCommandComplete(const MbnEventInfo& info);
    // Records the waiting command's outcome and wakes it (m_command_lock held).
    void AcceptCommandCompletionLocked(const CommandCompletion& completion);
    // The command's request id is known: it waits for that completion (taken
    // at once when it came early). Returns how many other completions came early.
    size_t AwaitCommandRequest(ULONG requestId);
    void OnQueryCommandComplete(const MbnEventInfo& info);
    void OnCapableInterfaceChange(const MbnEventInfo& info);
    void OnInterfaceManagerEvent(const MbnEventInfo& info);

    // Each outcome is recorded under its own lock before its event is set; the
    // waiting operation resets the event under the same lock before its request,
    // so an early completion is kept and a leftover signal is not taken for it.
    // A set completion must also carry the waiting command's request id: one
    // of a command that gave up waiting, or of the reboot, is not its reply.
    std::mutex m_open_lock;
    std::mutex m_command_lock;
    // Guards the device service reference hand-over and m_interface_id.
    std::mutex m_state_lock;
};
