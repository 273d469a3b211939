// The COM probe over the simulated laptop gives the lines Windows gives
// (testing/com_probe/expected.txt, checked against Wine by the Wine check),
// except where a line names the simulator's own answer and why.
#include <fstream>
#include <string>
#include <vector>

#include "com_probe.h"
#include "machine_fixture.h"

namespace {

// The lines the simulated laptop must give: each expected line, with the
// answer after " | sim: " (up to its reason in parentheses) where one is given.
std::vector<std::string> SimulatorLines()
{
    std::ifstream file(HALVEX_COM_PROBE_EXPECTED);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        const size_t sim = line.find(" | sim: ");
        if (sim == std::string::npos) {
            lines.push_back(line);
            continue;
        }
        const size_t colon = line.find(": ");
        const std::string answer = line.substr(sim + 8);
        lines.push_back(line.substr(0, colon + 2) + answer.substr(0, answer.find(" (")));
    }
    return lines;
}

}  // namespace

class ComProbe : public MachineTest {};

TEST_F(ComProbe, TheSimulatedRuntimeAnswersAsWindowsDoesOrAsDocumented)
{
    const std::vector<std::string> expected = SimulatorLines();
    ASSERT_FALSE(expected.empty()) << "cannot read " << HALVEX_COM_PROBE_EXPECTED;
    EXPECT_EQ(RunComProbe(), expected);
}
