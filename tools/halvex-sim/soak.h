// halvex-sim soak: plays a scenario (a generated one, or a file) several
// times in --instant time and checks that every run passes, that no run
// leaves a sanitizer report and that every run's report is the same.
#pragma once

#include <string>

namespace halvex_sim {

// The command "halvex-sim soak ...": `argv[0]` is "soak". Returns the exit status.
int SoakMain(int argc, char** argv);

// What must be the same in every run of one scenario, from a JSON report: the
// AT transcript, the status reports, the restarts (process ids numbered in
// order of appearance), the dumps' count, the processes' exit codes, the
// modem's table and the failures. Host-dependent parts (paths, process ids,
// time stamps) are left out, and so is the log: the service's threads write
// it side by side, so lines of one instant come in any order.
std::string ComparableReport(const std::string& json);

}  // namespace halvex_sim
