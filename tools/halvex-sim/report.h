// The report of a run: for a person on stdout, and for machines as JSON.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "laptop_analysis.h"
#include "run_result.h"
#include "scenario.h"
#include "verdict.h"

namespace halvex_sim {

struct Report {
    const Scenario* scenario = nullptr;
    std::string scenarioPath;  // as given; empty for the built-in scenario
    std::string runFolder;
    LaptopAnalysis laptop;
    std::vector<SarRow> before;
    RunResult result;
    Verdict verdict;
    int exitStatus = 0;
};

void PrintReport(const Report& report, std::ostream& out);
// False when the file cannot be written.
bool WriteJsonReport(const Report& report, const std::string& path);

}  // namespace halvex_sim
