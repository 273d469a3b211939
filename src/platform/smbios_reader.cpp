#include "platform/smbios_reader.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace {

constexpr DWORD kProviderRsmb = 0x52534D42u;  // 'RSMB'
constexpr size_t kHeaderSize = 8;             // calling method, versions, table length

// One structure of the table: its formatted part and its string set, both
// inside the table.
struct Structure {
    const uint8_t* formatted = nullptr;
    uint8_t length = 0;
    const uint8_t* strings = nullptr;  // first byte of the string set
    const uint8_t* stringsEnd = nullptr;
};

// Walks the structure table for the first structure of the type with at least
// minLength formatted bytes. The walk ends at the end of the table, at a length
// byte below 4, at a formatted part running past the end, and at a string set
// without its closing pair of NUL bytes.
bool FindStructure(const uint8_t* begin, const uint8_t* end, uint8_t type, uint8_t minLength, Structure& found)
{
    const uint8_t* p = begin;
    while (end - p >= 2) {
        uint8_t length = p[1];
        if (length < 4 || length > end - p) {
            return false;
        }
        const uint8_t* strings = p + length;
        const uint8_t* pair = strings;
        while (end - pair >= 2 && !(pair[0] == 0 && pair[1] == 0)) {
            ++pair;
        }
        bool terminated = end - pair >= 2;
        if (p[0] == type && length >= minLength) {
            found.formatted = p;
            found.length = length;
            found.strings = strings;
            found.stringsEnd = terminated ? pair + 2 : end;
            return true;
        }
        if (!terminated) {
            return false;
        }
        p = pair + 2;
    }
    return false;
}

// The text of the string number at the offset: 0 gives the empty text, and so
// do numbers beyond the structure's string set and strings not ended inside it.
std::string ReadString(const Structure& s, size_t offset)
{
    if (offset >= s.length) {
        return std::string();
    }
    uint8_t number = s.formatted[offset];
    const uint8_t* p = s.strings;
    const uint8_t* end = s.stringsEnd;
    if (number == 0 || p >= end || *p == 0) {
        return std::string();
    }
    for (uint8_t i = 1; i < number; ++i) {
        while (p < end && *p != 0) {
            ++p;
        }
        if (end - p < 2) {
            return std::string();  // no NUL, or nothing after it
        }
        ++p;  // past the string's NUL
        if (*p == 0) {
            return std::string();  // the set ended first
        }
    }
    const uint8_t* text = p;
    while (p < end && *p != 0) {
        ++p;
    }
    if (p >= end) {
        return std::string();
    }
    return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(p - text));
}

std::string FormatUuid(const uint8_t* b)
{
    char text[50] = {};
    std::snprintf(text, sizeof(text), "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[0],
                  b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return text;
}

}  // namespace

SmbiosInfo ParseSmbiosTable(const uint8_t* table, size_t size)
{
    SmbiosInfo info;
    if (!table || size < kHeaderSize) {
        return info;
    }
    uint32_t declared = static_cast<uint32_t>(table[4]) | (static_cast<uint32_t>(table[5]) << 8) |
                        (static_cast<uint32_t>(table[6]) << 16) | (static_cast<uint32_t>(table[7]) << 24);
    // A declared length beyond the delivered bytes is cut to them.
    size_t length = size - kHeaderSize;
    if (declared < length) {
        length = declared;
    }
    const uint8_t* begin = table + kHeaderSize;
    const uint8_t* end = begin + length;

    Structure system;
    if (FindStructure(begin, end, 1, 0x19, system)) {
        info.manufacturer = ReadString(system, 0x04);
        info.productName = ReadString(system, 0x05);
        info.serialNumber = ReadString(system, 0x07);
        info.version = ReadString(system, 0x06);
        if (system.length > 0x18) {  // the whole UUID lies inside the formatted part
            info.uuid = FormatUuid(system.formatted + 0x08);
        }
        if (system.length > 0x19) {
            info.skuNumber = ReadString(system, 0x19);
        }
        if (system.length > 0x1A) {
            info.family = ReadString(system, 0x1A);
        }
    }

    Structure processor;
    if (FindStructure(begin, end, 4, 0x16, processor)) {
        info.processorVersion = ReadString(processor, 0x10);
    }
    return info;
}

std::vector<uint8_t> ReadSmbiosTable()
{
    UINT size = GetSystemFirmwareTable(kProviderRsmb, 0, nullptr, 0);
    if (size == 0) {
        return {};
    }
    std::vector<uint8_t> buffer(size);
    UINT read = GetSystemFirmwareTable(kProviderRsmb, 0, buffer.data(), size);
    if (read != size) {
        return {};
    }
    return buffer;
}

SmbiosInfo SmbiosReader()
{
    const std::vector<uint8_t> table = ReadSmbiosTable();
    return table.empty() ? SmbiosInfo() : ParseSmbiosTable(table.data(), table.size());
}
