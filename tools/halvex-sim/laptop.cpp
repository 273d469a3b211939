#include "laptop.h"

#include <fstream>
#include <sstream>

#include "sim/machine.h"

namespace halvex_sim {
namespace {

constexpr const char* kExecutableFolder = "C:\\Program Files\\Varnick Wireless Inc\\Halvex Service\\";
constexpr uint32_t kNotEnoughMemory = 8;        // ERROR_NOT_ENOUGH_MEMORY
constexpr uint32_t kAccessDenied = 5;           // ERROR_ACCESS_DENIED
constexpr uint32_t kServiceDoesNotExist = 1060;  // ERROR_SERVICE_DOES_NOT_EXIST
constexpr uint32_t kCancelled = 1223;           // ERROR_CANCELLED: the elevation prompt declined

void LoadModemTable(sim::Tk42nModem& modem, const Scenario& scenario, const std::string& nvramPath)
{
    std::ifstream nvram(nvramPath);
    if (nvram) {
        std::string mode;
        int32_t band = 0;
        sim::SarValues values;
        while (nvram >> mode >> band >> values.maxpower >> values.rowgrads >> values.columngrads) {
            modem.SetSar(mode, band, values);
        }
        return;
    }
    for (const SarRow& row : scenario.modem->sar) {
        modem.SetSar(row.mode, row.band.value_or(0), {row.maxpower, row.rowgrads, row.columngrads});
    }
}

sim::MobileBroadband::CommandFault::Kind CommandKind(Fault::Action action)
{
    using Kind = sim::MobileBroadband::CommandFault::Kind;
    switch (action) {
    case Fault::Action::Error: return Kind::ErrorStatus;
    case Fault::Action::Silent: return Kind::NoCompletion;
    case Fault::Action::Late: return Kind::LateCompletion;
    default: return Kind::CallFails;
    }
}

sim::MobileBroadband::SessionFault SessionKind(Fault::Action action)
{
    using Kind = sim::MobileBroadband::SessionFault;
    return action == Fault::Action::Error ? Kind::ErrorStatus
         : action == Fault::Action::Silent ? Kind::NoCompletion
                                           : Kind::CallFails;
}

sim::ReplyFault ReplyKind(Fault::Action action)
{
    switch (action) {
    case Fault::Action::LowerCase: return sim::ReplyFault::LowerCase;
    case Fault::Action::Quoted: return sim::ReplyFault::ExtraQuotesAndBlanks;
    case Fault::Action::Garbage: return sim::ReplyFault::Garbage;
    default: return sim::ReplyFault::Oversized;
    }
}

sim::MobileBroadband::ManagerClass ManagerOf(Fault::ManagerClass which)
{
    using M = sim::MobileBroadband::ManagerClass;
    return which == Fault::ManagerClass::Interface ? M::InterfaceManager
         : which == Fault::ManagerClass::Connection ? M::ConnectionManager
                                                     : M::DeviceServicesManager;
}

sim::MobileBroadband::EventsInterface SinkOf(Fault::Sink sink)
{
    using E = sim::MobileBroadband::EventsInterface;
    switch (sink) {
    case Fault::Sink::Connection: return E::Connection;
    case Fault::Sink::InterfaceManager: return E::InterfaceManager;
    case Fault::Sink::Interface: return E::Interface;
    case Fault::Sink::DeviceServices: return E::DeviceServices;
    default: return E::Registration;
    }
}

}  // namespace

uint32_t OperStatusValue(OperStatus status)
{
    switch (status) {
    case OperStatus::Up: return sim::Network::kStatusUp;
    case OperStatus::Dormant: return sim::Network::kStatusDormant;
    default: return 2;  // IfOperStatusDown
    }
}

std::vector<uint8_t> LaptopSmbiosTable(const Laptop& laptop)
{
    sim::SmbiosSystem system;
    system.manufacturer = laptop.manufacturer;
    system.productName = laptop.product;
    system.version = laptop.version;
    system.serialNumber = laptop.serial;
    system.uuid = laptop.uuid;
    system.skuNumber = laptop.sku;
    system.family = laptop.family;
    return sim::SmbiosBuilder().AddSystem(system).AddProcessor(laptop.processor).AddEndOfTable().Build();
}

void BuildLaptop(const Scenario& scenario, const TimeOptions& time, const std::string& runFolder,
                 const std::vector<uint8_t>& smbiosTable, const std::string& nvramPath)
{
    sim::Machine& machine = sim::Machine::Get();
    machine.Reset();
    machine.clock().Reset(time.mode, time.realPerSimulated);
    machine.clock().ContinueFrom(time.start, time.wallAtZero);
    machine.clock().WaitForReadyThreads(true);  // a whole service process runs on it
    auto& files = machine.fileSystem();
    files.Adopt(runFolder);

    if (!smbiosTable.empty()) {
        machine.firmware().SetSmbiosTable(smbiosTable);
    }
    if (scenario.logging) {
        const std::string key = "SOFTWARE\\Varnick Wireless Inc\\Logs";
        machine.registry().CreateKey(key);
        if (scenario.logging->isAll) {
            machine.registry().SetDword(key, "IsAll", *scenario.logging->isAll);
        } else if (scenario.logging->isAllString) {
            machine.registry().SetString(key, "IsAll", *scenario.logging->isAllString);
        }
    }
    const std::string configPath = std::string(kExecutableFolder) + "DPRConfig.xml";
    // The files of the laptop outlive its service processes.
    if (scenario.dprConfig && !files.Exists(configPath)) {
        files.WriteFile(configPath, *scenario.dprConfig);
    }

    for (const Adapter& adapter : scenario.adapters) {
        sim::NetworkAdapter entry;
        entry.name = adapter.name;
        entry.ifType = adapter.ifType;
        entry.operStatus = OperStatusValue(adapter.status);
        entry.ipv4 = adapter.ipv4;
        machine.network().AddAdapter(entry);
        if (!adapter.instance.empty()) {
            machine.network().AddClassEntry(adapter.name, adapter.instance);
        }
    }

    auto& mbn = machine.mbn();
    if (!scenario.modem) {
        mbn.RemoveModem();
        mbn.WaitIdle();
        return;
    }
    const Modem& modem = *scenario.modem;
    if (!modem.interfaceId.empty()) {
        mbn.SetInterfaceId(modem.interfaceId);
        machine.network().OnModemPresence(true);
    }
    if (!modem.vendorId.empty()) {
        machine.network().SetModemVendorId(modem.vendorId);
    }
    if (!modem.productId.empty()) {
        machine.network().SetModemProductId(modem.productId);
    }
    machine.network().SetModemAdapter(OperStatusValue(modem.state), modem.ipv4);
    machine.network().SetModemPosition(scenario.modemPosition);
    mbn.SetCommandLatency(modem.latencyMs);
    mbn.SetRebootTiming(20, modem.awayMs);
    LoadModemTable(mbn.modem(), scenario, nvramPath);
    SaveModemTable(nvramPath);
}

void SaveModemTable(const std::string& nvramPath)
{
    std::ostringstream text;
    for (const auto& [key, values] : sim::Machine::Get().mbn().modem().WrittenEntries()) {
        text << key.first << ' ' << key.second << ' ' << values.maxpower << ' ' << values.rowgrads << ' '
             << values.columngrads << '\n';
    }
    // Written whole and renamed into place: a process that dies mid-write leaves the old table.
    const std::string temporary = nvramPath + ".new";
    std::ofstream(temporary) << text.str();
    std::rename(temporary.c_str(), nvramPath.c_str());
}

std::string UnsupportedFault(const Fault& fault)
{
    switch (fault.what) {
    case Fault::What::PowerRegister:
    case Fault::What::ScmOpen:
    case Fault::What::ScmService:
    case Fault::What::ScmQuery:
    case Fault::What::Shell:
        return fault.count < 0 ? "" : "this fault takes no count: it holds from then on";
    default:
        return "";
    }
}

std::string ArmFault(const Fault& fault)
{
    const std::string refusal = UnsupportedFault(fault);
    if (!refusal.empty()) {
        return refusal;
    }
    sim::Machine& machine = sim::Machine::Get();
    auto& mbn = machine.mbn();
    switch (fault.what) {
    case Fault::What::Class: mbn.FailClassCreation(ManagerOf(fault.managerClass), fault.count); break;
    case Fault::What::Advise: mbn.FailAdvise(SinkOf(fault.sink), fault.count); break;
    case Fault::What::Context: mbn.FailDeviceServicesContext(fault.count); break;
    case Fault::What::DeviceService: mbn.FailDeviceService(fault.count); break;
    case Fault::What::Open: mbn.InjectOpenSessionFault(SessionKind(fault.action), fault.count); break;
    case Fault::What::Command: {
        sim::MobileBroadband::CommandFault command;
        command.kind = CommandKind(fault.action);
        command.lateMs = fault.lateMs;
        command.match = fault.match;
        command.times = fault.count;
        mbn.InjectCommandFault(command);
        break;
    }
    case Fault::What::Reply: mbn.modem().InjectReplyFault(ReplyKind(fault.action), fault.match, fault.count); break;
    case Fault::What::Reboot: mbn.RefuseReboot(fault.count); break;
    case Fault::What::PowerRegister: machine.power().FailRegistrations(kNotEnoughMemory); break;
    case Fault::What::ScmOpen: machine.serviceDatabase().Fail(sim::ServiceDatabase::Call::OpenManager, kAccessDenied); break;
    case Fault::What::ScmService:
        machine.serviceDatabase().Fail(sim::ServiceDatabase::Call::OpenService, kServiceDoesNotExist);
        break;
    case Fault::What::ScmQuery: machine.serviceDatabase().Fail(sim::ServiceDatabase::Call::QueryStatus, kAccessDenied); break;
    case Fault::What::Shell: machine.shell().FailLaunches(kCancelled); break;
    default: break;
    }
    return "";
}

}  // namespace halvex_sim
