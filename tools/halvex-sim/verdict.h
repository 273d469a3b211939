// The run's verdict, which needs no <expect>: the rows the chosen entry wants,
// which its method applies and skips, which the service had to rewrite and
// which were right already, and whether the modem's final table holds every
// applied row.
#pragma once

#include <string>
#include <vector>

#include "laptop_analysis.h"
#include "scenario.h"

namespace halvex_sim {

struct RowVerdict {
    int line = 0;     // of the dpr element
    SarRow wanted;    // as the service writes it
    bool alreadyRight = false;  // the modem held it before the run
    bool held = false;          // the modem holds it at the end
    SarRow found;               // what the modem holds at the end
};

struct Verdict {
    std::string name;  // "configured", "already-right" or "not-configured"
    std::string reason;
    size_t wanted = 0;  // rows of the entry
    std::vector<RowVerdict> applied;
    std::vector<RowVerdict> skipped;  // rows the method skips (their `found` unused)
};

Verdict JudgeRun(const LaptopAnalysis& laptop, const std::vector<SarRow>& before, const std::vector<SarRow>& after);

}  // namespace halvex_sim
