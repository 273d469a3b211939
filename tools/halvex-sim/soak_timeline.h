// The soak's scenarios: a random but legal timeline of laptop events made
// from a seed, as a scenario file, and the time a settle in it may take.
#pragma once

#include <cstdint>
#include <string>

namespace halvex_sim {

// The laptop a settle bound depends on.
struct SettleLoad {
    uint32_t tasksQueued = 1;     // bring-ups the steps since the last settle may have posted
    uint32_t faultsArmed = 0;     // one-shot fault occurrences that may still be pending
    uint32_t commandLatencyMs = 0;
    uint32_t awayMs = 2000;       // how long a reboot keeps the modem away
};

// The longest one bring-up run (task) can take: the slowest lookup, a silent
// open, every command of the check timing out, and the re-post's waits.
uint32_t WorstBringUpMs(uint32_t commandLatencyMs);

// How long a settle may take at most, from the service's own retry counts and
// waits: every queued task and every re-post the retry counters allow (plus
// one per pending fault, and the two checks of a reboot's return) running
// for the longest a task can.
uint32_t SettleBoundMs(const SettleLoad& load);

// A scenario of about `events` steps played on the default laptop: random
// steps among everything a scenario offers, each only where it is legal (a
// crash or a pause only while the service runs, a suspend always followed by
// its resume, one-shot faults only), ending with the modem plugged and up, a
// suspend/resume, a settle and a stop, and expecting every row of the laptop's
// entry. The same seed gives the same text.
std::string SoakScenario(uint64_t seed, uint32_t events);

}  // namespace halvex_sim
