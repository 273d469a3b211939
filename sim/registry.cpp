#include "sim/machine.h"

namespace sim {

namespace {

std::string Normalise(std::string path)
{
    while (!path.empty() && path.back() == '\\') {
        path.pop_back();
    }
    while (!path.empty() && path.front() == '\\') {
        path.erase(path.begin());
    }
    return path;
}

}  // namespace

void Registry::CreateKey(const std::string& path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // Every ancestor exists too, as in a real hive.
    std::string key = Normalise(path);
    for (size_t pos = key.find('\\'); pos != std::string::npos; pos = key.find('\\', pos + 1)) {
        m_keys[key.substr(0, pos)];
    }
    m_keys[key];
}

void Registry::DeleteKey(const std::string& path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string key = ToLowerAscii(Normalise(path));
    for (auto it = m_keys.begin(); it != m_keys.end();) {
        std::string name = ToLowerAscii(it->first);
        bool inside = name == key || name.rfind(key + "\\", 0) == 0;
        it = inside ? m_keys.erase(it) : std::next(it);
    }
}

bool Registry::KeyExists(const std::string& path) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_keys.count(Normalise(path)) != 0;
}

void Registry::SetDword(const std::string& path, const std::string& name, uint32_t value)
{
    std::vector<uint8_t> data(4);
    for (int i = 0; i < 4; ++i) {
        data[i] = static_cast<uint8_t>(value >> (8 * i));
    }
    SetRaw(path, name, 4 /* REG_DWORD */, std::move(data));
}

void Registry::SetString(const std::string& path, const std::string& name, const std::string& value)
{
    CreateKey(path);
    std::lock_guard<std::mutex> lock(m_mutex);
    RegistryValue& stored = m_keys[Normalise(path)].values[name];
    stored = RegistryValue{};
    stored.type = 1; /* REG_SZ */
    stored.isString = true;
    stored.text = Widen(value);
}

void Registry::SetRaw(const std::string& path, const std::string& name, uint32_t type, std::vector<uint8_t> data)
{
    CreateKey(path);
    std::lock_guard<std::mutex> lock(m_mutex);
    RegistryValue& stored = m_keys[Normalise(path)].values[name];
    stored = RegistryValue{};
    stored.type = type;
    stored.data = std::move(data);
}

void Registry::DeleteValue(const std::string& path, const std::string& name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto key = m_keys.find(Normalise(path));
    if (key != m_keys.end()) {
        key->second.values.erase(name);
    }
}

std::optional<RegistryValue> Registry::Query(const std::string& path, const std::string& name) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto key = m_keys.find(Normalise(path));
    if (key == m_keys.end()) {
        return std::nullopt;
    }
    auto value = key->second.values.find(name);
    if (value == key->second.values.end()) {
        return std::nullopt;
    }
    return value->second;
}

std::vector<std::string> Registry::Subkeys(const std::string& path) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string prefix = ToLowerAscii(Normalise(path));
    if (!prefix.empty()) {
        prefix += "\\";
    }
    std::vector<std::string> children;
    for (const auto& [name, key] : m_keys) {
        std::string lower = ToLowerAscii(name);
        if (lower.rfind(prefix, 0) == 0 && name.find('\\', prefix.size()) == std::string::npos) {
            children.push_back(name.substr(prefix.size()));
        }
    }
    return children;
}

void Registry::DenyAccess(const std::string& path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_denied.insert(Normalise(path));
}

bool Registry::AccessDenied(const std::string& path) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_denied.count(Normalise(path)) != 0;
}

void Registry::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_keys.clear();
    m_denied.clear();
}

void Environment::Set(const std::string& name, const std::string& value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_vars[name] = value;
}

void Environment::Unset(const std::string& name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_vars.erase(name);
}

std::optional<std::string> Environment::Get(const std::string& name) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_vars.find(name);
    if (it == m_vars.end()) {
        return std::nullopt;
    }
    return it->second;
}

void Environment::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_vars.clear();
}

}  // namespace sim
