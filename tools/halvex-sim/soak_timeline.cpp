#include "soak_timeline.h"

#include <algorithm>
#include <random>
#include <sstream>
#include <vector>

#include "core/bring_up_limits.h"
#include "mbn/varnick_mbim_manager.h"

namespace halvex_sim {
namespace {

using namespace BringUpLimits;

// The entry the soak's laptop (an AMD ModelX) applies: four rows.
struct Row {
    const char* mode;
    int band;  // 0: none
    int maxpower, rowgrads, columngrads;
};
constexpr Row kEntry[] = {
    {"LTE", 1, 22, 6, 4}, {"LTE", 3, 21, 6, 4}, {"WCDMA", 1, 23, 6, 4}, {"GSM", 0, 30, 4, 2}};
constexpr uint32_t kRows = sizeof(kEntry) / sizeof(kEntry[0]);
constexpr uint32_t kPinCommands = 2;
constexpr uint32_t kAwayMs = 2000;
// The steps that close every soak timeline (see SoakScenario).
constexpr uint32_t kClosingSteps = 10;

// A row as a <sar>, <dpr> or <modem-sar> element, with the given maxpower.
std::string RowXml(const char* element, const Row& row, int maxpower)
{
    std::ostringstream out;
    out << "<" << element << " mode=\"" << row.mode << "\"";
    if (row.band != 0) {
        out << " band=\"" << row.band << "\"";
    }
    out << " maxpower=\"" << maxpower << "\" rowgrads=\"" << row.rowgrads << "\" columngrads=\""
        << row.columngrads << "\"/>";
    return out.str();
}

// Writes the timeline, keeping track of what the laptop and the service are
// doing so that each step is one that may happen there.
class TimelineWriter {
public:
    TimelineWriter(uint64_t seed, uint32_t latencyMs) : m_random(seed), m_latencyMs(latencyMs) {}

    uint32_t Pick(uint32_t choices) { return static_cast<uint32_t>(m_random() % choices); }
    uint32_t Crashes() const { return m_crashes; }
    uint32_t Steps() const { return m_steps; }
    std::string Text() const { return m_out.str(); }

    // One random step (or a suspend with its wait and resume).
    void RandomStep()
    {
        if (!m_running) {
            if (Pick(3) == 0) {
                Start();
            } else {
                LaptopStep();
            }
            return;
        }
        const uint32_t roll = Pick(100);
        if (roll < 16) {
            Settle();
        } else if (roll < 26) {
            Emit("<wait ms=\"" + std::to_string(Pick(20) * 1000 + Pick(1000)) + "\"/>");
        } else if (roll < 56) {
            LaptopStep();
        } else if (roll < 64) {
            Emit(m_paused ? "<continue/>" : "<pause/>");
            m_paused = !m_paused;
        } else if (roll < 68) {
            ++m_crashes;
            m_paused = false;  // the new process runs unpaused
            ++m_tasks;
            Emit("<crash/>");
        } else if (roll < 80) {
            Fault();
        } else if (roll < 82) {
            // Stopped on a settled laptop: how long the stop takes depends on
            // the threads (the service polls for its worker's end every
            // 20 ms), and nothing may fall into that span.
            Settle();
            Emit("<stop/>");
            m_running = false;
            m_paused = false;
        } else {
            Suspend();
        }
    }

    // The modem plugged and up, the service running, a last check, a stop.
    void Close()
    {
        if (m_unplugged) {
            Emit("<plug/>");
        }
        if (m_dormant) {
            Emit("<modem-state state=\"up\"/>");
        }
        m_unplugged = m_dormant = false;
        if (!m_running) {
            Start();
        }
        if (m_paused) {
            Emit("<continue/>");
            m_paused = false;
        }
        Settle();
        Suspend();
        Settle();
        Emit("<stop/>");
    }

private:
    void Emit(const std::string& step)
    {
        m_out << "    " << step << "\n";
        ++m_steps;
        ++m_tasks;  // a step posts at most one task on its own (a return: see Plug)
    }

    void Start()
    {
        Emit("<start/>");
        m_running = true;
    }

    void Settle()
    {
        SettleLoad load;
        load.tasksQueued = m_tasks;
        load.faultsArmed = m_faults;
        load.commandLatencyMs = m_latencyMs;
        load.awayMs = kAwayMs;
        Emit("<settle timeout-ms=\"" + std::to_string(SettleBoundMs(load)) + "\"/>");
        m_tasks = 0;
    }

    void Suspend()
    {
        Emit("<suspend/>");
        Emit("<wait ms=\"" + std::to_string(1000 + Pick(10) * 1000) + "\"/>");
        Emit("<resume/>");
        ++m_tasks;  // both resume events may post a check
    }

    // A change of the laptop that does not need the service.
    void LaptopStep()
    {
        switch (Pick(4)) {
        case 0:
        case 1:
            Emit(m_unplugged ? "<plug/>" : "<unplug/>");
            m_unplugged = !m_unplugged;
            ++m_tasks;  // two arrival notices
            break;
        case 2:
            Emit(std::string("<modem-state state=\"") + (m_dormant ? "up" : "dormant") + "\"/>");
            m_dormant = !m_dormant;
            break;
        default: {
            const Row& row = kEntry[Pick(kRows)];
            Emit(RowXml("modem-sar", row, 10 + static_cast<int>(Pick(20))));
            break;
        }
        }
    }

    // A fault of a few occurrences, in the process that runs now.
    void Fault()
    {
        static const char* const kCommand[] = {"fail", "error", "silent", "late"};
        static const char* const kOpen[] = {"fail", "error", "silent"};
        static const char* const kReply[] = {"lowercase", "quoted", "garbage", "oversize"};
        const uint32_t count = 1 + Pick(2);
        std::string fault;
        switch (Pick(4)) {
        case 0: fault = std::string("what=\"command\" action=\"") + kCommand[Pick(4)] + "\""; break;
        case 1: fault = std::string("what=\"open\" action=\"") + kOpen[Pick(3)] + "\""; break;
        case 2: fault = std::string("what=\"reply\" action=\"") + kReply[Pick(4)] + "\""; break;
        default: fault = "what=\"reboot\" action=\"refuse\""; break;
        }
        m_faults += count;
        Emit("<fault " + fault + " count=\"" + std::to_string(count) + "\"/>");
    }

    std::mt19937_64 m_random;
    uint32_t m_latencyMs;
    std::ostringstream m_out;
    uint32_t m_steps = 0;
    bool m_running = false;
    bool m_paused = false;
    bool m_unplugged = false;
    bool m_dormant = false;
    uint32_t m_crashes = 0;
    uint32_t m_tasks = 0;   // tasks the steps since the last settle may have posted
    uint32_t m_faults = 0;  // fault occurrences armed so far (a bound: some were used)
};

}  // namespace

uint32_t WorstBringUpMs(uint32_t commandLatencyMs)
{
    const uint32_t lookup = std::max<uint32_t>((kMaxEmptyLookups - 1) * kLookupRetryWaitMs,
                                               kMaxDormantReadings * kDormantWaitMs);
    const uint32_t open = MBIM_OPEN_WAIT_MS + kOpenRetryWaitMs + MBIM_CLOSE_WAIT_MS;
    const uint32_t command = std::max<uint32_t>(MBIM_COMMAND_WAIT_MS, commandLatencyMs);
    const uint32_t check = (2 * kRows + kPinCommands) * command + kQueryRetryWaitMs + MBIM_CLOSE_WAIT_MS;
    return kInitializedWaitMs + lookup + open + check;
}

uint32_t SettleBoundMs(const SettleLoad& load)
{
    const uint32_t rebootChecks = 2;
    const uint32_t tasks = load.tasksQueued + load.faultsArmed + rebootChecks + kMaxOpenRetries + kMaxQuerySendRetries;
    return tasks * WorstBringUpMs(load.commandLatencyMs) + load.awayMs;
}

std::string SoakScenario(uint64_t seed, uint32_t events)
{
    std::mt19937_64 setup(seed ^ 0x9E3779B97F4A7C15ull);
    const uint32_t latencyMs = static_cast<uint32_t>(setup() % 61);
    TimelineWriter timeline(seed, latencyMs);
    while (timeline.Steps() + kClosingSteps < events) {
        timeline.RandomStep();
    }
    timeline.Close();

    std::ostringstream out;
    out << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        << "<!-- halvex-sim soak, seed " << seed << ", " << events << " events -->\n"
        << "<scenario name=\"soak seed " << seed << "\" restart-limit=\"" << timeline.Crashes() + 1 << "\">\n"
        << "  <laptop manufacturer=\"Corvane\" product=\"Aero 14\" version=\"ModelX\" family=\"Aero\"\n"
        << "          processor=\"AMD Ryzen 7 PRO Processor\"/>\n"
        << "  <dprconfig>\n    <config>\n      <project name=\"ModelX\">\n"
        << "        <processor manufacturer=\"AMD\">\n          <module method=\"single band\">\n";
    for (const Row& row : kEntry) {
        out << "            " << RowXml("dpr", row, row.maxpower) << "\n";
    }
    out << "          </module>\n        </processor>\n      </project>\n    </config>\n  </dprconfig>\n"
        << "  <modem latency-ms=\"" << latencyMs << "\" away-ms=\"" << kAwayMs << "\">\n";
    for (const Row& row : kEntry) {
        if (setup() % 2 == 0) {  // the factory value or the entry's: some rows need writing
            out << "    " << RowXml("sar", row, row.maxpower) << "\n";
        }
    }
    out << "  </modem>\n  <timeline>\n" << timeline.Text() << "  </timeline>\n  <expect>\n";
    for (const Row& row : kEntry) {
        out << "    " << RowXml("sar", row, row.maxpower) << "\n";
    }
    out << "    <exit code=\"0\"/>\n  </expect>\n</scenario>\n";
    return out.str();
}

}  // namespace halvex_sim
