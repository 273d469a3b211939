#include "sim/smbios_builder.h"

#include <algorithm>

namespace sim {

namespace {

// Gives each non-empty text of a string field its number in the set, when the
// field lies inside the structure's formatted part.
class StringSet {
public:
    uint8_t Add(const std::string& text, size_t fieldOffset, size_t length)
    {
        if (text.empty() || fieldOffset >= length) {
            return 0;
        }
        m_strings.push_back(text);
        return static_cast<uint8_t>(m_strings.size());
    }
    const std::vector<std::string>& Strings() const { return m_strings; }

private:
    std::vector<std::string> m_strings;
};

void AppendStringSet(std::vector<uint8_t>& out, const std::vector<std::string>& strings)
{
    for (const auto& text : strings) {
        out.insert(out.end(), text.begin(), text.end());
        out.push_back(0);
    }
    if (strings.empty()) {
        out.push_back(0);  // an empty set is two NUL bytes
    }
    out.push_back(0);
}

}  // namespace

SmbiosBuilder& SmbiosBuilder::AddSystem(const SmbiosSystem& system)
{
    size_t length = system.length;
    StringSet strings;
    std::vector<uint8_t> formatted(27, 0);
    formatted[0x04] = strings.Add(system.manufacturer, 0x04, length);
    formatted[0x05] = strings.Add(system.productName, 0x05, length);
    formatted[0x06] = strings.Add(system.version, 0x06, length);
    formatted[0x07] = strings.Add(system.serialNumber, 0x07, length);
    std::copy(system.uuid.begin(), system.uuid.end(), formatted.begin() + 0x08);
    formatted[0x18] = 0x06;  // wake-up type: power switch
    formatted[0x19] = strings.Add(system.skuNumber, 0x19, length);
    formatted[0x1A] = strings.Add(system.family, 0x1A, length);
    formatted.resize(std::max<size_t>(length, 4), 0);
    return AddStructure(1, std::vector<uint8_t>(formatted.begin() + 4, formatted.end()), strings.Strings(),
                        system.length);
}

SmbiosBuilder& SmbiosBuilder::AddProcessor(const SmbiosProcessor& processor)
{
    size_t length = processor.length;
    StringSet strings;
    std::vector<uint8_t> formatted(42, 0);
    formatted[0x04] = strings.Add(processor.socket, 0x04, length);
    formatted[0x05] = 0x03;  // central processor
    formatted[0x06] = 0x02;  // family: unknown
    formatted[0x07] = strings.Add(processor.manufacturer, 0x07, length);
    formatted[0x10] = strings.Add(processor.version, 0x10, length);
    formatted[0x18] = 0x41;  // socket populated, enabled
    formatted.resize(std::max<size_t>(length, 4), 0);
    return AddStructure(4, std::vector<uint8_t>(formatted.begin() + 4, formatted.end()), strings.Strings(),
                        processor.length);
}

SmbiosBuilder& SmbiosBuilder::AddProcessor(const std::string& version)
{
    SmbiosProcessor processor;
    processor.version = version;
    return AddProcessor(processor);
}

SmbiosBuilder& SmbiosBuilder::AddStructure(uint8_t type, const std::vector<uint8_t>& formatted,
                                           const std::vector<std::string>& strings,
                                           std::optional<uint8_t> lengthOverride)
{
    uint16_t handle = NextHandle();
    m_structures.push_back(type);
    m_structures.push_back(lengthOverride ? *lengthOverride : static_cast<uint8_t>(4 + formatted.size()));
    m_structures.push_back(static_cast<uint8_t>(handle & 0xFF));
    m_structures.push_back(static_cast<uint8_t>(handle >> 8));
    m_structures.insert(m_structures.end(), formatted.begin(), formatted.end());
    AppendStringSet(m_structures, strings);
    return *this;
}

SmbiosBuilder& SmbiosBuilder::AddRaw(const std::vector<uint8_t>& bytes)
{
    m_structures.insert(m_structures.end(), bytes.begin(), bytes.end());
    return *this;
}

SmbiosBuilder& SmbiosBuilder::AddEndOfTable()
{
    return AddStructure(127, {}, {});
}

SmbiosBuilder& SmbiosBuilder::DeclareLength(uint32_t length)
{
    m_declaredLength = length;
    return *this;
}

SmbiosBuilder& SmbiosBuilder::Version(uint8_t major, uint8_t minor)
{
    m_major = major;
    m_minor = minor;
    return *this;
}

std::vector<uint8_t> SmbiosBuilder::Build() const
{
    uint32_t length = m_declaredLength ? *m_declaredLength : static_cast<uint32_t>(m_structures.size());
    std::vector<uint8_t> table = {0, m_major, m_minor, 0};
    for (int shift = 0; shift < 32; shift += 8) {
        table.push_back(static_cast<uint8_t>(length >> shift));
    }
    table.insert(table.end(), m_structures.begin(), m_structures.end());
    return table;
}

}  // namespace sim
