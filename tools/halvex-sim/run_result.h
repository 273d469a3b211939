// What a run left behind, gathered from the journal, the modem's table and the
// log files, and the scenario's expectations checked against it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scenario.h"

namespace halvex_sim {

struct StatusRecord {
    size_t process = 0;  // index into RunResult::processes
    uint32_t state = 0;
    uint32_t controls = 0;
    uint32_t checkpoint = 0;
    uint32_t waitHint = 0;
    uint32_t exitCode = 0;
};

struct ServiceProcessRecord {
    int pid = 0;
    int exitCode = 0;
    bool serviceStarted = false;  // the process ran the service (a timeline may play without it)
};

// A program the service started through the shell, and what it did on the laptop.
struct RestartRecord {
    std::string verb, file, params;
    std::string outcome;
};

struct AtExchange {
    std::string tx, rx;
};

struct CheckedExpectation {
    int line = 0;
    std::string expected;  // as a person reads it
    bool held = false;
    std::string actual;  // what was found
    std::string Text() const { return "line " + std::to_string(line) + ": " + expected; }
};

struct RunResult {
    std::vector<ServiceProcessRecord> processes;
    std::vector<StatusRecord> status;
    std::vector<AtExchange> at;
    uint32_t reboots = 0;
    std::vector<RestartRecord> restarts;
    std::vector<std::string> dumps;
    std::vector<std::string> problems;  // what kept the run from playing as written
    std::vector<SarRow> after;          // the modem's table at the end (rows written)
    std::vector<std::string> logFiles;  // host paths
    std::vector<std::string> logLines;  // every line of every log file, in order
    std::vector<CheckedExpectation> expectations;
    std::string verdict;  // "configured", "already-right" or "not-configured"

    size_t Starts() const;  // processes that ran the service
    size_t Commands(bool (*kind)(const std::string&)) const;  // AT commands of a kind (IsSarQuery, ...)
    bool Passed() const;
    std::vector<std::string> Failures() const;
};

// Reads the journal (the records of every service process and the shell's
// launches); dumps come from the laptop itself.
void ReadRecords(const std::string& journalPath, RunResult& result);
// The table of the modem's non-volatile memory file.
std::vector<SarRow> ReadModemTable(const std::string& nvramPath);
// The row as the modem holds it when it was never written.
SarRow FactoryRow(const SarRow& key);
// The SAR-related classification of an AT command text.
bool IsSarQuery(const std::string& command);
bool IsSarSet(const std::string& command);
bool IsPinCommand(const std::string& command);

void CheckExpectations(const Scenario& scenario, RunResult& result);

}  // namespace halvex_sim
