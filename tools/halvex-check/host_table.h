// This machine's raw SMBIOS table and the folder of this program: the two
// things halvex-check asks of the system it runs on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace halvex_check {

// Through GetSystemFirmwareTable, as the service reads it (empty when there is
// none); on Linux from the firmware tables under /sys, none when they cannot
// be read (that needs read access, usually root).
std::optional<std::vector<uint8_t>> HostSmbiosTable();

// The folder of the running program, with its separator at the end.
std::string ProgramFolder();

}  // namespace halvex_check
