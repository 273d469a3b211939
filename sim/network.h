// The simulated laptop's network adapters as IP Helper lists them, and the
// subkeys of the network class key in the registry. The TK42-N modem brings
// its own WWAN adapter and class subkey: both exist exactly while the modem is
// present (they go when it reboots or is unplugged and come back with it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

class Registry;
class MobileBroadband;

struct NetworkAdapter {
    std::string name;          // AdapterName: the interface GUID in braces
    uint32_t ifType = 6;       // IF_TYPE_ETHERNET_CSMACD; 243 is IF_TYPE_WWANPP
    uint32_t operStatus = 1;   // IfOperStatusUp; 5 is IfOperStatusDormant
    bool ipv4 = true;          // bound to IPv4: listed for AF_INET
    std::string description = "Network adapter";
};

class Network {
public:
    static constexpr const char* kClassKey =
        "SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}";
    static constexpr uint32_t kIfTypeWwan = 243;
    static constexpr uint32_t kStatusUp = 1;
    static constexpr uint32_t kStatusDormant = 5;
    static constexpr const char* kModemVendorId = "4B6E";
    static constexpr const char* kDefaultModemProductId = "0E82";

    Network(Registry& registry, MobileBroadband& mbn);

    // Appends an adapter to the list.
    void AddAdapter(const NetworkAdapter& adapter);
    // Adds the next free class subkey ("0000", "0001", ...) with the two values
    // as REG_SZ (an empty text leaves its value out) and returns the subkey's
    // path below HKEY_LOCAL_MACHINE, for values of other types.
    std::string AddClassEntry(const std::string& netCfgInstanceId, const std::string& deviceInstanceId);

    // The modem's adapter (named by the modem's interface id, type 243): its
    // status and IPv4 binding (default up and bound), its place in the list
    // (default last) and the vendor and product ids of its device instance id, e.g.
    // USB\VID_4B6E&PID_0E82&MI_0C\7&1A2B3C4D&0&000C (default 4B6E and 0E82).
    void SetModemAdapter(uint32_t operStatus, bool ipv4);
    void SetModemPosition(size_t position);
    void SetModemVendorId(const std::string& vendorId);
    void SetModemProductId(const std::string& productId);
    std::string ModemDeviceInstanceId() const;

    // The adapters listed now, in order.
    std::vector<NetworkAdapter> Adapters() const;

    // The modem left (false) or returned (true); its interface id is read again.
    void OnModemPresence(bool present);
    // A fresh laptop (after the registry was cleared): the class key, no
    // adapter but the modem's, the modem's settings back to their defaults.
    void Reset();

private:
    struct ModemEntry {
        bool present = true;
        std::string interfaceId;
        uint32_t operStatus = kStatusUp;
        bool ipv4 = true;
        size_t position = SIZE_MAX;
        std::string vendorId = kModemVendorId;
        std::string productId = kDefaultModemProductId;
        std::string subkey;  // path of its class subkey, kept while it is away
    };

    std::string NextFreeSubkeyLocked() const;
    // Writes or removes the modem's class subkey after a change.
    void SyncModemLocked();

    Registry& m_registry;
    MobileBroadband& m_mbn;
    mutable std::mutex m_mutex;
    std::vector<NetworkAdapter> m_adapters;
    ModemEntry m_modem;
};

}  // namespace sim
