// One service process of a run, in a child process of halvex-sim: the laptop
// is built from the scenario and the run's durable state, the timeline is
// played from `firstStep` on a driver thread on the simulated clock, and the
// service runs on the process's main thread as the service control manager
// starts it. Everything the parent reports goes to the run's journal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "laptop.h"
#include "scenario.h"

namespace halvex_sim {

struct ProcessPlan {
    const Scenario* scenario = nullptr;
    TimeOptions time;
    std::string runFolder;
    std::vector<uint8_t> smbiosTable;
    size_t firstStep = 0;
    bool startAtOnce = false;  // a restart: the service starts before the first step
    bool quiet = false;
};

std::string JournalPath(const std::string& runFolder);
std::string NvramPath(const std::string& runFolder);

// Runs the service process; returns its exit code.
int RunServiceProcess(const ProcessPlan& plan);

}  // namespace halvex_sim
