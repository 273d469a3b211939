// Builds raw SMBIOS tables as the firmware table interface delivers them, for
// tests and scenarios: system (type 1) and processor (type 4) structures with
// their strings, other structures, and malformed variants.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// Type 1, System Information. Empty texts get string number 0.
struct SmbiosSystem {
    std::string manufacturer;
    std::string productName;
    std::string version;
    std::string serialNumber;
    std::array<uint8_t, 16> uuid{};
    std::string skuNumber;
    std::string family;
    // Formatted length (header included); 27 is the full structure. Shorter
    // structures are cut, and strings only referenced from the cut part are
    // left out of the string set.
    uint8_t length = 27;
};

// Type 4, Processor Information, with the fields this service reads.
struct SmbiosProcessor {
    std::string socket = "U3E1";
    std::string manufacturer;
    std::string version;
    uint8_t length = 42;
};

class SmbiosBuilder {
public:
    SmbiosBuilder& AddSystem(const SmbiosSystem& system);
    SmbiosBuilder& AddProcessor(const SmbiosProcessor& processor);
    SmbiosBuilder& AddProcessor(const std::string& version);

    // Any structure: the formatted part after the 4-byte header (type, length,
    // handle) and the string set. The length byte is 4 + formatted.size()
    // unless lengthOverride gives another value.
    SmbiosBuilder& AddStructure(uint8_t type, const std::vector<uint8_t>& formatted,
                                const std::vector<std::string>& strings,
                                std::optional<uint8_t> lengthOverride = std::nullopt);
    // Bytes appended to the structure table as they are (malformed structures,
    // a string set without its closing NUL ...).
    SmbiosBuilder& AddRaw(const std::vector<uint8_t>& bytes);
    // The end-of-table structure (type 127).
    SmbiosBuilder& AddEndOfTable();

    // Table length written into bytes 4 to 7 instead of the real one.
    SmbiosBuilder& DeclareLength(uint32_t length);
    SmbiosBuilder& Version(uint8_t major, uint8_t minor);

    // The structure table alone, and the whole raw table with its header.
    std::vector<uint8_t> Structures() const { return m_structures; }
    std::vector<uint8_t> Build() const;

private:
    uint16_t NextHandle() { return m_nextHandle++; }
    std::vector<uint8_t> m_structures;
    std::optional<uint32_t> m_declaredLength;
    uint8_t m_major = 3;
    uint8_t m_minor = 2;
    uint16_t m_nextHandle = 0;
};

}  // namespace sim
