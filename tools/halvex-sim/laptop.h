// Builds the simulated laptop of a scenario in a service process: the machine
// as the scenario describes it, on the run's host folder, with the modem's SAR
// table as its non-volatile memory left it.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "scenario.h"
#include "sim/clock.h"
#include "sim/smbios_builder.h"

namespace halvex_sim {

struct TimeOptions {
    sim::Clock::Mode mode = sim::Clock::Mode::Real;
    double realPerSimulated = 1.0;
    // Where a service process's clock starts: the run's time so far, and the
    // wall time at the run's start (one time line over all its processes).
    sim::Clock::Duration start{0};
    std::chrono::system_clock::time_point wallAtZero = std::chrono::system_clock::now();
};

// The raw SMBIOS table of the scenario's <laptop>.
std::vector<uint8_t> LaptopSmbiosTable(const Laptop& laptop);

// Sets up sim::Machine for a service process of the run. `smbiosTable` empty:
// no table. The modem's table comes from `nvramPath` when it exists, else from
// the scenario.
void BuildLaptop(const Scenario& scenario, const TimeOptions& time, const std::string& runFolder,
                 const std::vector<uint8_t>& smbiosTable, const std::string& nvramPath);

// Writes the modem's table to its non-volatile memory file.
void SaveModemTable(const std::string& nvramPath);

// Arms a fault on the machine; the text of why it cannot be injected, or "".
std::string ArmFault(const Fault& fault);
// The same check without arming (every fault of a scenario is checked before it runs).
std::string UnsupportedFault(const Fault& fault);

uint32_t OperStatusValue(OperStatus status);

}  // namespace halvex_sim
