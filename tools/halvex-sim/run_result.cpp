#include "run_result.h"

#include <algorithm>
#include <cctype>
#include <fstream>

#include "journal.h"
#include "sim/modem_tk42n.h"
#include "step_names.h"

namespace halvex_sim {
namespace {

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

uint32_t Number(const std::string& text)
{
    return static_cast<uint32_t>(std::stoul(text.empty() ? "0" : text));
}

std::string RowText(const SarRow& row)
{
    return RowKey(row) + " = " + std::to_string(row.maxpower) + "," + std::to_string(row.rowgrads) + "," +
           std::to_string(row.columngrads);
}

std::string Join(const std::vector<uint32_t>& values)
{
    std::string text;
    for (uint32_t value : values) {
        text += (text.empty() ? "" : ",") + std::to_string(value);
    }
    return text;
}

CheckedExpectation CheckCount(const std::string& what, uint32_t expected, size_t actual)
{
    return {0, what + " count " + std::to_string(expected), actual == expected, std::to_string(actual)};
}

bool LogHas(const RunResult& result, const std::string& text)
{
    return std::any_of(result.logLines.begin(), result.logLines.end(),
                       [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

}  // namespace

SarRow FactoryRow(const SarRow& key)
{
    constexpr sim::SarValues factory = sim::Tk42nModem::kFactoryValues;
    return SarRow{key.mode, key.band, factory.maxpower, factory.rowgrads, factory.columngrads};
}

bool IsSarQuery(const std::string& command)
{
    const std::string lower = Lower(command);
    return lower.find("\"sarcfg\"") != std::string::npos && std::count(lower.begin(), lower.end(), ',') <= 2;
}

bool IsSarSet(const std::string& command)
{
    const std::string lower = Lower(command);
    return lower.find("\"sarcfg\"") != std::string::npos && std::count(lower.begin(), lower.end(), ',') > 2;
}

bool IsPinCommand(const std::string& command)
{
    const std::string lower = Lower(command);
    return lower.rfind("at+vsar", 0) == 0 || lower.find("\"rf/sar/gpioctl\"") != std::string::npos;
}

size_t RunResult::Starts() const
{
    return static_cast<size_t>(std::count_if(processes.begin(), processes.end(),
                                             [](const ServiceProcessRecord& p) { return p.serviceStarted; }));
}

size_t RunResult::Commands(bool (*kind)(const std::string&)) const
{
    return static_cast<size_t>(
        std::count_if(at.begin(), at.end(), [kind](const AtExchange& exchange) { return kind(exchange.tx); }));
}

bool RunResult::Passed() const
{
    return Failures().empty();
}

std::vector<std::string> RunResult::Failures() const
{
    std::vector<std::string> failures = problems;
    for (const auto& expectation : expectations) {
        if (!expectation.held) {
            failures.push_back(expectation.Text() + " (found " + expectation.actual + ")");
        }
    }
    return failures;
}

void ReadRecords(const std::string& journalPath, RunResult& result)
{
    for (const JournalRecord& record : ReadJournal(journalPath)) {
        const size_t process = result.processes.empty() ? 0 : result.processes.size() - 1;
        if (record.kind == "process") {
            result.processes.push_back({static_cast<int>(Number(record.Field(0))), 0, false});
        } else if (record.kind == "service" && !result.processes.empty()) {
            result.processes.back().serviceStarted = true;
        } else if (record.kind == "exit" && !result.processes.empty()) {
            result.processes.back().exitCode = std::stoi(record.Field(0));
        } else if (record.kind == "status") {
            result.status.push_back({process, Number(record.Field(0)), Number(record.Field(1)),
                                     Number(record.Field(2)), Number(record.Field(3)), Number(record.Field(4))});
        } else if (record.kind == "at") {
            result.at.push_back({record.Field(0), record.Field(1)});
        } else if (record.kind == "reboot") {
            ++result.reboots;
        } else if (record.kind == "shell") {
            result.restarts.push_back({record.Field(0), record.Field(1), record.Field(2), record.Field(3)});
        } else if (record.kind == "problem") {
            result.problems.push_back(record.Field(0));
        }
    }
}

std::vector<SarRow> ReadModemTable(const std::string& nvramPath)
{
    std::vector<SarRow> rows;
    std::ifstream in(nvramPath);
    SarRow row;
    int32_t band = 0;
    while (in >> row.mode >> band >> row.maxpower >> row.rowgrads >> row.columngrads) {
        row.band = (row.mode == "LTE" || row.mode == "WCDMA") ? std::optional<int32_t>(band) : std::nullopt;
        rows.push_back(row);
    }
    return rows;
}

void CheckExpectations(const Scenario& scenario, RunResult& result)
{
    using K = Expectation::Kind;
    for (const Expectation& e : scenario.expectations) {
        CheckedExpectation checked;
        switch (e.kind) {
        case K::Sar: {
            SarRow actual = FactoryRow(e.sar);
            for (const SarRow& row : result.after) {
                if (row.mode == e.sar.mode && row.band == e.sar.band) {
                    actual = row;
                }
            }
            checked = {0, "sar " + RowText(e.sar),
                       actual.maxpower == e.sar.maxpower && actual.rowgrads == e.sar.rowgrads &&
                           actual.columngrads == e.sar.columngrads,
                       RowText(actual)};
            break;
        }
        case K::Reboots: checked = CheckCount("reboots", e.count, result.reboots); break;
        case K::Sets: checked = CheckCount("sets", e.count, result.Commands(IsSarSet)); break;
        case K::Queries: checked = CheckCount("queries", e.count, result.Commands(IsSarQuery)); break;
        case K::Pins: checked = CheckCount("pins", e.count, result.Commands(IsPinCommand)); break;
        case K::Starts: checked = CheckCount("starts", e.count, result.Starts()); break;
        case K::Restarts: checked = CheckCount("restarts", e.count, result.restarts.size()); break;
        case K::Dumps: checked = CheckCount("dumps", e.count, result.dumps.size()); break;
        case K::LogContains: checked = {0, "log contains \"" + e.text + "\"", LogHas(result, e.text), "no such line"}; break;
        case K::LogLacks: checked = {0, "log lacks \"" + e.text + "\"", !LogHas(result, e.text), "such a line"}; break;
        case K::Status: {
            std::vector<uint32_t> states;
            for (const StatusRecord& s : result.status) {
                states.push_back(s.state);
            }
            checked = {0, "status " + Join(e.states), states == e.states, Join(states)};
            break;
        }
        case K::Restart:
            checked = {0, "restart contains \"" + e.text + "\"",
                       std::any_of(result.restarts.begin(), result.restarts.end(),
                                   [&](const RestartRecord& r) { return r.params.find(e.text) != std::string::npos; }),
                       "no such restart"};
            break;
        case K::Exit: {
            const int actual = result.processes.empty() ? 0 : result.processes.back().exitCode;
            checked = {0, "exit code " + std::to_string(e.exitCode), actual == e.exitCode, std::to_string(actual)};
            break;
        }
        case K::Verdict: checked = {0, "verdict " + e.text, result.verdict == e.text, result.verdict}; break;
        }
        checked.line = e.line;
        result.expectations.push_back(checked);
    }
}

}  // namespace halvex_sim
