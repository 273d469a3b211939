// halvex-sim: runs the service on a simulated laptop described by a scenario
// and reports what it did. Each service process runs in a child process; the
// laptop's durable state lives in the run's folder, outside them.
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "journal.h"
#include "laptop_analysis.h"
#include "logging/log_helper.h"
#include "report.h"
#include "run_folder.h"
#include "service_process.h"
#include "soak.h"
#include "sim/file_system.h"
#include "sim/firmware.h"
#include "sim/machine.h"
#include "sim/service_database.h"
#include "sim/shell.h"

namespace halvex_sim {
extern const char* const kDefaultScenario;  // examples/scenarios/default.xml, embedded at build time
}

namespace {

using namespace halvex_sim;

constexpr int kExitPassed = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUnusable = 2;

// The fastest scaled run whose results are those of real time. Host delays
// grow by the factor: at 20, a thread that a busy two-core machine keeps
// waiting 10 ms has missed 200 ms of simulated time, the service's shortest
// wait that decides an order. Faster runs merge checks that real time keeps
// apart (at 100 the default scenario lost a re-check in one run of four);
// --instant is exact at any pace.
constexpr double kMaxSpeed = 20;

// Refuses what is not a finite number above 0 and at most kMaxSpeed.
std::string CheckSpeed(const std::string& text)
{
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value) || value <= 0 || value > kMaxSpeed) {
        return "a number above 0 and at most 20 (faster runs are not exact: use --instant), not \"" +
               text + "\"";
    }
    return "";
}

struct Options {
    std::string scenarioPath;
    std::string jsonPath;
    bool instant = false;
    double speed = 0;
    bool hostSmbios = false;
    bool quiet = false;
};

// The first step the scenario has that this simulator cannot play, as "file:line: problem".
std::string Unplayable(const Scenario& scenario, const std::string& file)
{
    for (const Step& step : scenario.timeline) {
        const std::string problem = step.kind == Step::Kind::Fault ? UnsupportedFault(step.fault) : "";
        if (!problem.empty()) {
            return file + ":" + std::to_string(step.line) + ": " + problem;
        }
    }
    return "";
}

// The programs the service processes started through the shell, from the record the laptop keeps.
std::vector<sim::Shell::Launch> Launches(const std::string& runFolder)
{
    sim::FileSystem files;
    files.Adopt(runFolder);
    return sim::Shell(files).Launches();
}

// The services a fresh laptop has installed (the runs change none).
const sim::ServiceDatabase& InstalledServices()
{
    static const sim::ServiceDatabase* services = [] {
        auto* database = new sim::ServiceDatabase();
        database->Reset();
        return database;
    }();
    return *services;
}

// The step after the last one the last service process finished.
size_t NextStep(const std::vector<JournalRecord>& records, size_t firstStep)
{
    size_t next = firstStep;
    for (auto it = records.rbegin(); it != records.rend() && it->kind != "process"; ++it) {
        if (it->kind == "done") {
            next = std::max<size_t>(next, std::stoul(it->Field(0)) + 1);
        }
    }
    return next;
}

// The simulated time the run reached: its last finished step or restart request.
sim::Clock::Duration TimeReached(const std::vector<JournalRecord>& records,
                                 const std::vector<sim::Shell::Launch>& launches)
{
    uint64_t ms = 0;
    for (const JournalRecord& record : records) {
        if (record.kind == "done") {
            ms = std::max<uint64_t>(ms, std::stoull(record.Field(1)));
        }
    }
    for (const sim::Shell::Launch& launch : launches) {
        ms = std::max(ms, launch.elapsedMs);
    }
    return std::chrono::milliseconds(ms);
}

// Runs the timeline's service processes one after another; the problems of the run itself.
std::vector<std::string> RunProcesses(ProcessPlan plan)
{
    const Scenario& scenario = *plan.scenario;
    std::vector<std::string> problems;
    uint32_t restarts = 0;
    for (;;) {
        const size_t launchesBefore = Launches(plan.runFolder).size();
        std::fflush(stdout);
        const pid_t parent = getpid();
        const pid_t child = fork();
        if (child < 0) {
            throw std::runtime_error("cannot start a service process");
        }
        if (child == 0) {
            // A service process never outlives the run (a killed halvex-sim ends it too).
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent) {
                std::_Exit(70);
            }
            int code = 70;
            try {
                code = RunServiceProcess(plan);
            } catch (const std::exception& error) {
                std::cerr << "halvex-sim: service process: " << error.what() << "\n";
            }
            std::fflush(stdout);
            std::exit(code);
        }
        int status = 0;
        waitpid(child, &status, 0);
        JournalWriter journal(JournalPath(plan.runFolder));
        if (WIFEXITED(status)) {
            journal.Append("exit", {std::to_string(WEXITSTATUS(status))});
        } else {
            journal.Append("exit", {std::to_string(128 + WTERMSIG(status))});
            journal.Append("problem", {"a service process ended by signal " + std::to_string(WTERMSIG(status))});
        }
        const std::vector<JournalRecord> records = ReadJournal(JournalPath(plan.runFolder));
        const size_t nextStep = NextStep(records, plan.firstStep);
        // The process's launches, read as cmd.exe runs them: a restart is one
        // that starts the service again, after the waits it makes.
        const auto launches = Launches(plan.runFolder);
        plan.time.start = TimeReached(records, launches);
        bool restart = false;
        for (size_t i = launchesBefore; i < launches.size(); ++i) {
            const auto effects = sim::Shell::Effects(launches[i], static_cast<uint32_t>(child), InstalledServices());
            journal.Append("shell", {launches[i].verb, launches[i].file, launches[i].parameters,
                                     sim::Shell::Describe(effects)});
            if (!restart && sim::Shell::StartsService(effects)) {
                restart = true;
                plan.time.start += std::chrono::milliseconds(sim::Shell::WaitMs(effects));
            }
        }
        if (restart) {
            if (++restarts > scenario.restartLimit) {
                problems.push_back("the service kept restarting: restart limit " +
                                   std::to_string(scenario.restartLimit) + " reached");
                break;
            }
            plan.firstStep = nextStep;
            plan.startAtOnce = true;
            continue;
        }
        const bool nextIsStart =
            nextStep < scenario.timeline.size() && scenario.timeline[nextStep].kind == Step::Kind::Start;
        if (!nextIsStart || (nextStep == plan.firstStep && !plan.startAtOnce)) {
            break;
        }
        plan.firstStep = nextStep;
        plan.startAtOnce = false;
    }
    return problems;
}

// The dumps the run left on the laptop.
void ReadCrashRecords(RunResult& result)
{
    auto& machine = sim::Machine::Get();
    const std::string exe = machine.ExecutablePath();
    const std::string folder = exe.substr(0, exe.rfind('\\'));
    for (const std::string& name : machine.fileSystem().List(folder)) {
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".dmp") == 0) {
            result.dumps.push_back(machine.fileSystem().HostPath(folder + "\\" + name));
        }
    }
}

void ReadLogs(const std::string& runFolder, RunResult& result)
{
    auto& files = sim::Machine::Get().fileSystem();
    files.Adopt(runFolder);
    const std::string folder = files.HostPath(LogHelper::LogFolder());
    std::error_code error;
    if (folder.empty() || !std::filesystem::is_directory(folder, error)) {
        return;
    }
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            result.logFiles.push_back(entry.path().string());
        }
    }
    std::sort(result.logFiles.begin(), result.logFiles.end());
    for (const std::string& path : result.logFiles) {
        std::ifstream in(path);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            result.logLines.push_back(line);
        }
    }
}

int Run(const Options& options)
{
    const std::string file = options.scenarioPath.empty() ? "default.xml (built in)" : options.scenarioPath;
    const ScenarioResult loaded = options.scenarioPath.empty() ? ParseScenario(kDefaultScenario, file)
                                                               : LoadScenario(options.scenarioPath);
    if (!loaded.scenario) {
        std::cerr << loaded.error << "\n";
        return kExitUnusable;
    }
    const Scenario& scenario = *loaded.scenario;
    if (const std::string problem = Unplayable(scenario, file); !problem.empty()) {
        std::cerr << problem << "\n";
        return kExitUnusable;
    }

    ProcessPlan plan;
    plan.scenario = &scenario;
    plan.quiet = options.quiet;
    if (options.instant) {
        plan.time.mode = sim::Clock::Mode::Instant;
    } else if (options.speed > 0) {
        plan.time.mode = sim::Clock::Mode::Scaled;
        plan.time.realPerSimulated = 1.0 / options.speed;
    }
    if (options.hostSmbios) {
        sim::Firmware host;
        if (!host.LoadHostTable()) {
            std::cerr << "halvex-sim: cannot read this machine's SMBIOS table from /sys/firmware/dmi/tables/ "
                         "(it needs read access, usually root)\n";
            return kExitUnusable;
        }
        plan.smbiosTable = *host.SmbiosTable();
    } else if (scenario.laptop) {
        plan.smbiosTable = LaptopSmbiosTable(*scenario.laptop);
    }
    const RunFolder runFolder;
    plan.runFolder = runFolder.Path();
    if (!options.quiet) {
        std::cout << "Scenario \"" << scenario.name << "\" from " << file << "; the laptop lives in "
                  << plan.runFolder << "\n";
    }

    Report report;
    report.scenario = &scenario;
    report.scenarioPath = options.scenarioPath;
    report.runFolder = plan.runFolder;
    if (scenario.modem) {
        report.before = scenario.modem->sar;
    }
    RunResult& result = report.result;
    const std::vector<std::string> runProblems = RunProcesses(plan);
    ReadRecords(JournalPath(plan.runFolder), result);
    result.problems.insert(result.problems.end(), runProblems.begin(), runProblems.end());
    result.after = ReadModemTable(NvramPath(plan.runFolder));
    report.laptop = AnalyseLaptop(scenario, plan.smbiosTable);
    report.verdict = JudgeRun(report.laptop, report.before, result.after);
    result.verdict = report.verdict.name;
    ReadLogs(plan.runFolder, result);
    ReadCrashRecords(result);
    CheckExpectations(scenario, result);
    report.exitStatus = result.Passed() ? kExitPassed : kExitFailed;

    PrintReport(report, std::cout);
    if (!options.jsonPath.empty() && !WriteJsonReport(report, options.jsonPath)) {
        std::cerr << "halvex-sim: cannot write " << options.jsonPath << "\n";
        return kExitUnusable;
    }
    return report.exitStatus;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "soak") {
        return SoakMain(argc - 1, argv + 1);
    }
    CLI::App app{"halvex-sim: runs the Halvex service on a simulated laptop described by a scenario file and "
                 "reports what it did.",
                 "halvex-sim"};
    app.footer(
        "Exit status:\n"
        "  0  the scenario ran and every expectation held\n"
        "  1  an expectation failed (each failure is printed)\n"
        "  2  unusable command line or scenario file (the message names file, line and problem)\n"
        "halvex-sim soak --help: plays random timelines made from a seed.");
    Options options;
    app.add_option("scenario", options.scenarioPath,
                   "Scenario file (docs/scenarios.md); without it the built-in default scenario "
                   "(examples/scenarios/default.xml) runs")
        ->type_name("SCENARIO.xml")
        ->check(CLI::ExistingFile);
    app.add_option("--json", options.jsonPath, "Also write the report as JSON to this file")->type_name("REPORT.json");
    auto* instant = app.add_flag("--instant", options.instant,
                                 "Run every wait of the service, the modem and the timeline in no time");
    app.add_option("--speed", options.speed,
                   "Run simulated time X times faster than real time, X at most 20 "
                   "(without --instant or --speed: real time)")
        ->type_name("X")
        ->check(CLI::Validator(CheckSpeed, "X"))
        ->excludes(instant);
    app.add_flag("--host-smbios", options.hostSmbios,
                 "Use this machine's SMBIOS table (/sys/firmware/dmi/tables/) instead of the scenario's <laptop>");
    app.add_flag("--quiet", options.quiet, "No progress lines while the timeline runs");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? 0 : kExitUnusable;
    }
    try {
        return Run(options);
    } catch (const std::exception& error) {
        std::cerr << "halvex-sim: " << error.what() << "\n";
        return kExitUnusable;
    }
}
