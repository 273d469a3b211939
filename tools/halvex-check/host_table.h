// This machine's raw SMBIOS table and the folder of this program: the two
// things halvex-check asks of the system it runs on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace halvex_check {

// Through GetSystemFirmwareTable, as the service reads it; on Linux from the
// firmware tables under /sys (which needs read access, usually root). Empty
// when there is none.
std::vector<uint8_t> HostSmbiosTable();

// The folder of the running program, with its separator at the end.
std::string ProgramFolder();

}  // namespace halvex_check
