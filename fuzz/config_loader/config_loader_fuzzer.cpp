// Arbitrary bytes as DPRConfig.xml beside the simulated executable, loaded by
// the configuration loader.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "config/config_model.h"
#include "config/xml_helper.h"
#include "sim/machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = [] {
        sim::Machine::Get().Reset();
        std::string executable = sim::Machine::Get().ExecutablePath();
        return executable.substr(0, executable.rfind('\\')) + "\\DPRConfig.xml";
    }();
    sim::Machine::Get().fileSystem().WriteFile(path, std::string(reinterpret_cast<const char*>(data), size));

    bool loaded = XMLHelper::ParseXMLContent();

    // A failed load leaves no entry; every entry has its project's name and at
    // least one setting (a module without one is passed over).
    const auto& list = ProjectConfigList();
    if (!loaded && !list.empty()) {
        std::abort();
    }
    for (const auto& entry : list) {
        if (entry.dprs.empty()) {
            std::abort();
        }
    }
    return 0;
}
