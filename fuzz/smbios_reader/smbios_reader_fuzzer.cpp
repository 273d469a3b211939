// Arbitrary bytes as the simulated machine's raw SMBIOS table, read by the
// SMBIOS reader.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/smbios_reader.h"
#include "sim/machine.h"

namespace {

void CheckText(const std::string& text)
{
    // Texts end at their NUL: none can hold one.
    if (text.find('\0') != std::string::npos) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool ready = [] {
        sim::Machine::Get().Reset();
        return true;
    }();
    (void)ready;
    sim::Machine::Get().firmware().SetSmbiosTable(std::vector<uint8_t>(data, data + size));

    SmbiosInfo info = SmbiosReader();

    for (const auto* text : {&info.family, &info.manufacturer, &info.productName, &info.serialNumber,
                             &info.skuNumber, &info.version, &info.processorVersion}) {
        CheckText(*text);
    }
    if (!info.uuid.empty() && info.uuid.size() != 36) {
        std::abort();
    }
    if (size < 8 && !(info.uuid.empty() && info.version.empty() && info.processorVersion.empty())) {
        std::abort();
    }
    return 0;
}
