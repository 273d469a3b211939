// A halvex-sim scenario: the simulated laptop before the service runs, the
// timeline played against it and the expectations checked at the end. The
// model is plain data; the runner maps it onto sim::Machine (the names follow
// the simulator's: SmbiosSystem, NetworkAdapter, ReplyFault, ...).
// docs/scenarios.md describes the file format.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace halvex_sim {

// One SAR table row, as the modem holds it and as the service writes it.
struct SarRow {
    std::string mode;             // "LTE", "WCDMA", "GSM" or "LTE_WCDMA"
    std::optional<int32_t> band;  // only for "LTE" and "WCDMA"
    int32_t maxpower = 0;
    int32_t rowgrads = 0;
    int32_t columngrads = 0;
};

// How a person names the row: "LTE band 3", "GSM".
std::string RowKey(const SarRow& row);

// SMBIOS type 1 strings and the type 4 processor version.
struct Laptop {
    std::string manufacturer;
    std::string product;
    std::string version;
    std::string serial;
    std::array<uint8_t, 16> uuid{};  // in the order the digits are written
    std::string sku;
    std::string family;
    std::string processor;
};

// The "IsAll" registry value of the logging switch.
struct LoggingSwitch {
    std::optional<uint32_t> isAll;           // REG_DWORD
    std::optional<std::string> isAllString;  // REG_SZ
};

enum class OperStatus { Up, Down, Dormant };

// Empty texts stand for the simulated modem's own defaults.
struct Modem {
    std::string interfaceId;
    std::string vendorId;
    std::string productId;
    OperStatus state = OperStatus::Up;
    bool ipv4 = true;
    uint32_t latencyMs = 0;  // answer time per command
    uint32_t awayMs = 2000;  // how long a reboot keeps it away
    std::vector<SarRow> sar;  // rows set before the service runs
};

struct Adapter {
    std::string name;
    uint32_t ifType = 6;  // IF_TYPE_ETHERNET_CSMACD
    OperStatus status = OperStatus::Up;
    std::string instance;  // DeviceInstanceID of its network class subkey; empty: none
    bool ipv4 = true;
};

struct Fault {
    enum class What {
        Class, Advise, Context, DeviceService, Open, Command, Reply, Reboot,
        PowerRegister, ScmOpen, ScmService, ScmQuery, Shell,
    };
    enum class ManagerClass { Interface, Connection, DeviceServices };
    enum class Sink { Connection, InterfaceManager, Interface, DeviceServices, Registration };
    enum class Action {
        Fail, Error, Silent, Late,                 // open, command
        LowerCase, Quoted, Garbage, Oversize,      // reply
        Refuse,                                    // reboot
    };

    What what = What::Class;
    ManagerClass managerClass = ManagerClass::Interface;
    Sink sink = Sink::Connection;
    Action action = Action::Fail;
    std::string match;   // only commands containing this text; empty: every command
    int count = -1;      // how many times; -1: every time from then on
    uint32_t lateMs = 3500;
};

struct Step {
    enum class Kind {
        Start, Settle, Wait, Suspend, Resume, Power, Unplug, Plug, ModemState,
        Pause, Continue, Crash, ModemSar, Fault, Stop,
    };
    Kind kind = Kind::Start;
    int line = 0;
    uint32_t ms = 0;                  // Wait: how long; Settle: the time-out (default 60000)
    uint32_t powerEvent = 0;          // Power
    OperStatus modemState = OperStatus::Up;  // ModemState
    SarRow sar;                       // ModemSar
    halvex_sim::Fault fault;          // Fault
};

struct Expectation {
    enum class Kind {
        Sar, Reboots, Sets, Queries, Pins, LogContains, LogLacks, Status, Starts,
        Restart, Restarts, Dumps, Exit, Verdict,
    };
    Kind kind = Kind::Sar;
    int line = 0;
    SarRow sar;                    // Sar
    uint32_t count = 0;            // Reboots, Sets, Queries, Pins, Starts, Restarts, Dumps
    std::string text;              // LogContains, LogLacks, Restart; Verdict: its name
    std::vector<uint32_t> states;  // Status: dwCurrentState values in order
    int32_t exitCode = 0;          // Exit
};

struct Scenario {
    std::string name;
    uint32_t restartLimit = 5;
    std::optional<Laptop> laptop;            // none: no SMBIOS table
    std::optional<LoggingSwitch> logging;    // none: no "Logs" key
    std::optional<std::string> dprConfig;    // the file's bytes; none: no file
    std::optional<Modem> modem;              // none: no modem
    std::vector<Adapter> adapters;           // the other adapters, in order
    size_t modemPosition = 0;                // adapters listed before the modem
    std::vector<Step> timeline;
    std::vector<Expectation> expectations;
};

struct ScenarioResult {
    std::optional<Scenario> scenario;
    std::string error;  // "file:line: problem" when there is no scenario
};

// Reads and checks a scenario file.
ScenarioResult LoadScenario(const std::string& path);
// The same for text already read; `fileName` names it in errors and is the
// base of a relative <dprconfig file="...">.
ScenarioResult ParseScenario(const std::string& text, const std::string& fileName);

}  // namespace halvex_sim
