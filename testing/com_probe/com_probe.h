// The COM and OLE Automation behaviour the service relies on, probed the same
// way in both builds: on Linux over the simulated laptop, on Windows (under
// Wine) over the system's runtime with the simulated modem's COM server
// registered. Each probe gives one line, `name: result`; expected.txt beside
// this file holds what Windows answers, and, after " | sim: ", what the
// simulated laptop answers where it knowingly differs (with the reason).
#pragma once

#include <string>
#include <vector>

// Runs every probe on the calling thread, which must not have entered COM.
std::vector<std::string> RunComProbe();
