// The Mobile Broadband API of the simulated laptop, with the TK42-N modem
// behind its vendor device service. Reached as sim::Machine::Get().mbn().
//
// What the service sees (through CoCreateInstance and the interfaces of
// winapi/mbnapi/mbnapi.h), and nothing more: every other method answers
// E_NOTIMPL.
//  - the classes MbnInterfaceManager, MbnConnectionManager and
//    MbnDeviceServicesManager, each an IConnectionPointContainer. The interface
//    manager has connection points for IMbnInterfaceManagerEvents,
//    IMbnInterfaceEvents and IMbnRegistrationEvents, the connection manager for
//    IMbnConnectionEvents, the device services manager for
//    IMbnDeviceServicesEvents. Advise hands out non-zero cookies, Unadvise
//    takes them back; an event reaches every sink advised on any live object of
//    the class. Connection points share their container's reference count.
//  - GetDeviceServicesContext(interface id) while the modem is present;
//    GetDeviceService(kVendorServiceId) on it; OpenCommandSession,
//    CloseCommandSession and SetCommand (id 8: 4 zero bytes + AT text; id 12:
//    bytes 00 11, the reboot), each completing later on a simulated COM worker
//    thread through the advised IMbnDeviceServicesEvents sinks. The command
//    session belongs to the device-service object that opened it: SetCommand
//    and CloseCommandSession on an object without an open session fail with
//    HRESULT_FROM_WIN32(ERROR_INVALID_STATE), OpenCommandSession on an object
//    whose session is open with HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED).
//  - IMbnInterface (also IMbnRegistration) and IMbnConnection objects with
//    the state queries the sinks make.
// Completions and events are delivered on a small pool of worker threads
// (two), possibly concurrently, like the multithreaded apartment does. When
// the last thread of the process leaves COM, every object handed out before is
// disconnected (its calls fail with RPC_E_DISCONNECTED) and the advised sinks
// are released.
//
// Test-facing API (all thread-safe):
//  - WaitIdle(): blocks until no event is queued, scheduled or being delivered
//    (scheduled ones included, e.g. a late completion or a reboot's arrival);
//    never call it from inside a sink.
//  - modem(): the modem (its SAR table, pin commands, reply faults).
//  - Transcript(): every SetCommand that reached the vendor service.
//  - Fault injection: every Fail*/Inject* call below takes `times`
//    (< 0: until Reset) and the failing HRESULT.
//  - The platform's latitude: the same objects handed out again, session
//    completions before the call returns, the order of the presence events,
//    the reboot's completion.
//  - Events on demand: Raise*(); state setters for the sinks' queries.
//  - Reboot timing: SetRebootTiming(); RemoveModem()/ReturnModem().
// Reset() (done by Machine::Reset) stops and joins the worker threads, drops
// queued events (releasing what they held), disconnects every object handed
// out before, forgets advised sinks (releasing them), and restores a present
// modem with factory settings, default timing and behaviour and no presence
// listener. The COM runtime keeps the three classes registered across resets.
// At process exit the worker threads are joined before the process-wide
// objects created earlier are destroyed.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/modem_tk42n.h"

namespace sim {
class Clock;
class ComRuntime;
}

namespace sim {

// HRESULT values used by the simulated API (numbers, to keep this header free
// of the Win32 headers).
namespace hr {
constexpr int32_t Ok = 0;
constexpr int32_t Fail = static_cast<int32_t>(0x80004005u);          // E_FAIL
constexpr int32_t InvalidArg = static_cast<int32_t>(0x80070057u);    // E_INVALIDARG
constexpr int32_t ClassNotRegistered = static_cast<int32_t>(0x80040154u);  // REGDB_E_CLASSNOTREG
constexpr int32_t CannotConnect = static_cast<int32_t>(0x80040202u);       // CONNECT_E_CANNOTCONNECT
constexpr int32_t NotFound = static_cast<int32_t>(0x80070490u);            // HRESULT_FROM_WIN32(ERROR_NOT_FOUND)
constexpr int32_t DeviceNotAvailable = static_cast<int32_t>(0x800710DFu);  // ..._WIN32(ERROR_DEVICE_NOT_AVAILABLE)
constexpr int32_t InvalidState = static_cast<int32_t>(0x8007139Fu);        // ..._WIN32(ERROR_INVALID_STATE)
constexpr int32_t AlreadyInitialized = static_cast<int32_t>(0x800704DFu);  // ..._WIN32(ERROR_ALREADY_INITIALIZED)
constexpr int32_t Disconnected = static_cast<int32_t>(0x80010108u);        // RPC_E_DISCONNECTED
}  // namespace hr

class MobileBroadband {
public:
    static constexpr const char* kVendorServiceId = "{5B3C90A2-7E41-4D8A-9C06-2F7D1B84E6A3}";
    static constexpr const char* kDefaultInterfaceId = "{3F2A6C1E-8B4D-4E7A-9D15-6C0B2E9A7F41}";
    static constexpr const char* kClsidInterfaceManager = "{BDFEE05B-4418-11DD-90ED-001C257CCFF1}";
    static constexpr const char* kClsidConnectionManager = "{BDFEE05C-4418-11DD-90ED-001C257CCFF1}";
    static constexpr const char* kClsidDeviceServicesManager = "{2269DAA3-2A9F-4165-A501-CE00A6F7A75B}";
    static constexpr uint32_t kAtCommandId = 8;
    static constexpr uint32_t kRebootCommandId = 12;

    enum class ManagerClass { InterfaceManager, ConnectionManager, DeviceServicesManager };
    enum class EventsInterface { Connection, InterfaceManager, Interface, DeviceServices, Registration };

    enum class SessionFault {
        CallFails,     // Open/CloseCommandSession returns the HRESULT
        NoCompletion,  // the call succeeds (the session opens/closes) but no completion comes
        ErrorStatus,   // the completion carries the HRESULT as status (the session state is unchanged)
    };

    // The four events of the modem leaving and returning, by source.
    enum class PresenceEvent { CapableRemoval, InterfaceRemoval, InterfaceArrival, CapableArrival };

    struct CommandFault {
        enum class Kind {
            CallFails,       // SetCommand returns `hr`; the modem never sees the command
            NoCompletion,    // the modem executes it, the completion never comes
            LateCompletion,  // the modem executes it, the completion comes `lateMs` later
            ErrorStatus,     // the completion carries `hr` as status and no data; not executed
            NoData,          // the modem executes it, the completion has status 0 and no data array
        };
        Kind kind = Kind::CallFails;
        int32_t hr = hr::Fail;
        uint32_t lateMs = 3500;
        std::string match;  // only AT commands whose text contains this (empty: every AT command)
        int times = -1;
    };

    struct TranscriptEntry {
        uint32_t commandId = 0;
        std::string command;     // AT text as sent, or "00 11" style hex for other commands
        bool accepted = false;   // SetCommand returned S_OK
        int32_t callResult = 0;  // what SetCommand returned
        std::string reply;       // the modem's reply text (without the zero header); empty if not executed
        int32_t status = 0;      // the completion's status
        bool completionSent = false;  // a completion was (or is scheduled to be) delivered
    };

    // Registers the three manager classes with `com`; deliveries run on `clock`'s time.
    MobileBroadband(ComRuntime& com, Clock& clock);
    ~MobileBroadband();
    MobileBroadband(const MobileBroadband&) = delete;
    MobileBroadband& operator=(const MobileBroadband&) = delete;

    void Reset();

    // ---- the modem and its interface ----
    Tk42nModem& modem();
    void SetInterfaceId(const std::string& id);
    std::string InterfaceId() const;
    bool ModemPresent() const;
    bool CommandSessionOpen() const;
    // The modem leaves / comes back; the events go out in the presence order.
    void RemoveModem();
    void ReturnModem();
    // After an accepted reboot command: `removalDelayMs` until the removal
    // events, then `awayMs` until the arrival events (defaults 20 and 50 ms);
    // with kStaysAway the modem does not come back.
    static constexpr uint32_t kStaysAway = 0xFFFFFFFFu;
    void SetRebootTiming(uint32_t removalDelayMs, uint32_t awayMs);
    // Every AT command's completion comes this long after SetCommand (a late
    // completion fault replaces it); 0 by default.
    void SetCommandLatency(uint32_t milliseconds);
    // Called (on a worker thread) whenever the modem leaves (false) or returns (true).
    void SetPresenceListener(std::function<void(bool present)> listener);
    // The machine's own hook, kept across resets: the modem's network adapter
    // and class subkey follow it. Called on the thread that changes the
    // modem's presence, before any news of the change goes out.
    void SetNetworkHook(std::function<void(bool present)> hook);

    // ---- the platform's latitude ----
    // GetDeviceServicesContext and GetDeviceService hand back the object they
    // handed out before, with a new reference, while it lives and the modem has
    // not left since (default: a new object each time).
    void HandOutSameObjects(bool same);
    // Open/CloseCommandSession deliver their completion (on a worker thread)
    // before they return.
    void CompleteSessionCallsBeforeReturn(bool early);
    // The order in which the two sources report a leave and a return: all four
    // events, each source's removal before its arrival. Events up to the first
    // arrival go out when the modem leaves, the rest when it returns (default:
    // CapableRemoval, InterfaceRemoval, InterfaceArrival, CapableArrival).
    // False (and no change) for any other list.
    bool SetPresenceEventOrder(const std::vector<PresenceEvent>& order);
    // The completion of an accepted reboot: its status, and whether it comes
    // only after the modem has left (default: S_OK, before). The modem reboots
    // either way.
    void SetRebootCompletion(int32_t status, bool afterLeaving);

    // ---- faults ----
    void FailClassCreation(ManagerClass which, int times, int32_t failure = hr::ClassNotRegistered);
    void FailAdvise(EventsInterface which, int times = -1, int32_t failure = hr::CannotConnect);
    // Unadvise fails and the connection stays.
    void FailUnadvise(EventsInterface which, int times = -1, int32_t failure = hr::Fail);
    void FailDeviceServicesContext(int times = -1, int32_t failure = hr::NotFound);
    // failure == hr::Ok: GetDeviceService succeeds but hands out no object.
    void FailDeviceService(int times = -1, int32_t failure = hr::NotFound);
    // Clears every fault injected into the API below (not the modem's reply faults).
    void ClearFaults();
    void InjectOpenSessionFault(SessionFault fault, int times = -1, int32_t failure = hr::Fail);
    void InjectCloseSessionFault(SessionFault fault, int times = -1, int32_t failure = hr::Fail);
    void InjectCommandFault(const CommandFault& fault);
    void RefuseReboot(int times = -1, int32_t failure = hr::Fail);
    // Every state query of IMbnInterface/IMbnConnection/IMbnRegistration fails with E_FAIL.
    void FailStateQueries(bool fail);

    // ---- states the sinks query (MBN enumeration values) ----
    void SetEmergencyMode(bool on);
    void SetHomeProvider(const std::string& id, uint32_t state, const std::string& name);
    void SetRegisterMode(uint32_t mode);

    // ---- events on demand (delivered asynchronously; WaitIdle to see them done) ----
    enum class InterfaceEvent {
        CapabilityAvailable, SubscriberInformationChange, ReadyStateChange, EmergencyModeChange,
        HomeProviderAvailable, PreferredProvidersChange, SetPreferredProvidersComplete, ScanNetworkComplete
    };
    enum class RegistrationEvent { RegisterModeAvailable, RegisterStateChange, PacketServiceStateChange,
                                   SetRegisterModeComplete };
    enum class ConnectionEvent { ConnectComplete, DisconnectComplete, ConnectStateChange, VoiceCallStateChange };
    void RaiseInterfaceEvent(InterfaceEvent event);
    void RaiseRegistrationEvent(RegistrationEvent event);
    void RaiseConnectionEvent(ConnectionEvent event);
    // Set the state, then raise its change event.
    void RaiseReadyState(uint32_t state);
    void RaiseRegisterState(uint32_t state);
    void RaiseConnectionState(uint32_t activationState, const std::string& profileName);
    // Interface-manager events for the modem's interface (presence unchanged).
    void RaiseInterfaceArrival();
    void RaiseInterfaceRemoval();
    // Device-services interface state changes (empty id: the modem's).
    void RaiseCapableInterfaceArrival(const std::string& interfaceId = "");
    void RaiseCapableInterfaceRemoval(const std::string& interfaceId = "");
    // OnEventNotification / OnReadData of the vendor device service.
    void RaiseDeviceServiceNotification(uint32_t eventId, const std::vector<uint8_t>& data);
    void RaiseReadData(const std::vector<uint8_t>& data);

    // What happened at the modem, in the order it happened: a command that
    // reached the vendor service (with its transcript entry), a command session
    // opened or closed by a call, the modem leaving or returning.
    struct Activity {
        enum class Kind { Command, SessionOpened, SessionClosed, Left, Returned };
        Kind kind = Kind::Command;
        TranscriptEntry command;  // Kind::Command only
    };
    // Called under the API's lock: the listener must not call into the API.
    // An empty function clears it; a reset clears it too.
    void SetActivityListener(std::function<void(const Activity&)> listener);

    // ---- observation ----
    bool WaitIdle(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    std::vector<TranscriptEntry> Transcript() const;
    size_t AdvisedSinks(EventsInterface which) const;  // connections currently advised
    int AdviseCalls(EventsInterface which) const;      // successful Advise calls
    int UnadviseCalls(EventsInterface which) const;    // successful Unadvise calls
    int OpenSessionCalls() const;
    int CloseSessionCalls() const;
    long LiveObjects() const;  // simulated COM objects not yet destroyed

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

}  // namespace sim
