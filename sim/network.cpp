#include "sim/network.h"

#include <algorithm>
#include <cstdio>

#include "sim/machine.h"

namespace sim {

namespace {

// The modem's USB interface 0C, as Windows names its device instance.
std::string ModemInstanceId(const std::string& vendorId, const std::string& productId)
{
    return "USB\\VID_" + vendorId + "&PID_" + productId + "&MI_0C\\7&1A2B3C4D&0&000C";
}

}  // namespace

Network::Network(Registry& registry, MobileBroadband& mbn) : m_registry(registry), m_mbn(mbn) {}

void Network::AddAdapter(const NetworkAdapter& adapter)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_adapters.push_back(adapter);
}

std::string Network::NextFreeSubkeyLocked() const
{
    for (unsigned index = 0;; ++index) {
        char name[16];
        std::snprintf(name, sizeof(name), "%04u", index);
        std::string path = std::string(kClassKey) + "\\" + name;
        if (path != m_modem.subkey && !m_registry.KeyExists(path)) {
            return path;
        }
    }
}

std::string Network::AddClassEntry(const std::string& netCfgInstanceId, const std::string& deviceInstanceId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string path = NextFreeSubkeyLocked();
    m_registry.CreateKey(path);
    if (!netCfgInstanceId.empty()) {
        m_registry.SetString(path, "NetCfgInstanceId", netCfgInstanceId);
    }
    if (!deviceInstanceId.empty()) {
        m_registry.SetString(path, "DeviceInstanceID", deviceInstanceId);
    }
    return path;
}

void Network::SetModemAdapter(uint32_t operStatus, bool ipv4)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_modem.operStatus = operStatus;
    m_modem.ipv4 = ipv4;
}

void Network::SetModemPosition(size_t position)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_modem.position = position;
}

void Network::SetModemProductId(const std::string& productId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_modem.productId = productId;
    SyncModemLocked();
}

void Network::SetModemVendorId(const std::string& vendorId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_modem.vendorId = vendorId;
    SyncModemLocked();
}

std::string Network::ModemDeviceInstanceId() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return ModemInstanceId(m_modem.vendorId, m_modem.productId);
}

std::vector<NetworkAdapter> Network::Adapters() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<NetworkAdapter> adapters = m_adapters;
    if (m_modem.present) {
        NetworkAdapter modem;
        modem.name = m_modem.interfaceId;
        modem.ifType = kIfTypeWwan;
        modem.operStatus = m_modem.operStatus;
        modem.ipv4 = m_modem.ipv4;
        modem.description = "TK42-N Mobile Broadband Adapter";
        adapters.insert(adapters.begin() + static_cast<ptrdiff_t>(std::min(m_modem.position, adapters.size())),
                        modem);
    }
    return adapters;
}

void Network::OnModemPresence(bool present)
{
    const std::string interfaceId = m_mbn.InterfaceId();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_modem.present = present;
    m_modem.interfaceId = interfaceId;
    SyncModemLocked();
}

void Network::Reset()
{
    const std::string interfaceId = m_mbn.InterfaceId();
    const bool present = m_mbn.ModemPresent();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_adapters.clear();
    m_modem = ModemEntry{};
    m_registry.CreateKey(kClassKey);
    m_modem.subkey = NextFreeSubkeyLocked();
    m_modem.present = present;
    m_modem.interfaceId = interfaceId;
    SyncModemLocked();
}

void Network::SyncModemLocked()
{
    if (!m_modem.present) {
        m_registry.DeleteKey(m_modem.subkey);
        return;
    }
    m_registry.SetString(m_modem.subkey, "NetCfgInstanceId", m_modem.interfaceId);
    m_registry.SetString(m_modem.subkey, "DeviceInstanceID", ModemInstanceId(m_modem.vendorId, m_modem.productId));
}

}  // namespace sim
