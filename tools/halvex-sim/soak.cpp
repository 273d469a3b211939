#include "soak.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "soak_timeline.h"

namespace halvex_sim {
namespace {

namespace fs = std::filesystem;

struct SoakOptions {
    uint64_t seed = 1;
    uint32_t events = 1000;
    uint32_t runs = 2;
    std::string scenarioPath;  // empty: the scenario of the seed
    std::string savePath;      // where a failing generated scenario is written
    bool print = false;        // only print the generated scenario
};

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// One run of halvex-sim on the scenario, in --instant time, in a child process
// whose report, JSON report and errors go to files in `folder`; its run
// folders go there too. Returns the exit status (128 + signal when killed).
int PlayOnce(const fs::path& scenario, const fs::path& folder, uint32_t run)
{
    const std::string prefix = (folder / ("run-" + std::to_string(run))).string();
    const std::string json = prefix + ".json";
    std::cout << std::flush;
    const pid_t child = fork();
    if (child < 0) {
        throw std::runtime_error("cannot start halvex-sim");
    }
    if (child == 0) {
        const int out = open((prefix + ".txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open((prefix + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
            _exit(127);
        }
        setenv("TMPDIR", folder.c_str(), 1);
        const std::string path = scenario.string();
        const char* args[] = {"halvex-sim", "--instant", "--quiet", "--json", json.c_str(), path.c_str(), nullptr};
        execv("/proc/self/exe", const_cast<char* const*>(args));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The first line where two texts differ, both versions.
std::string FirstDifference(const std::string& a, const std::string& b)
{
    std::istringstream left(a), right(b);
    std::string l, r;
    for (int line = 1;; ++line) {
        const bool moreLeft = static_cast<bool>(std::getline(left, l));
        const bool moreRight = static_cast<bool>(std::getline(right, r));
        if (!moreLeft && !moreRight) {
            return "";
        }
        if (!moreLeft || !moreRight || l != r) {
            return "line " + std::to_string(line) + ": \"" + (moreLeft ? l : "(end)") + "\" against \"" +
                   (moreRight ? r : "(end)") + "\"";
        }
    }
}

// The problems of one run: its exit status, sanitizer reports, failures.
std::vector<std::string> RunProblems(int status, const fs::path& prefix)
{
    std::vector<std::string> problems;
    if (status != 0) {
        problems.push_back("halvex-sim exited with status " + std::to_string(status));
    }
    const std::string errors = ReadFile(prefix.string() + ".err");
    for (const char* mark : {"Sanitizer", "runtime error:"}) {
        if (errors.find(mark) != std::string::npos) {
            problems.push_back(std::string("its errors hold a \"") + mark + "\" report (" + prefix.string() + ".err)");
        }
    }
    const std::string json = ReadFile(prefix.string() + ".json");
    if (json.empty()) {
        problems.push_back("no JSON report");
        return problems;
    }
    const nlohmann::json report = nlohmann::json::parse(json);
    for (const auto& failure : report.at("failures")) {
        problems.push_back(failure.get<std::string>());
    }
    return problems;
}

int Soak(const SoakOptions& options)
{
    const auto started = std::chrono::steady_clock::now();
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/halvex-soak-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::cerr << "halvex-sim soak: cannot create a folder under " << pattern << "\n";
        return 2;
    }
    const fs::path folder = pattern;
    const bool generated = options.scenarioPath.empty();
    const std::string what = generated ? "seed " + std::to_string(options.seed) + ", " +
                                             std::to_string(options.events) + " events"
                                       : options.scenarioPath;
    const fs::path scenario = generated ? folder / "scenario.xml" : fs::absolute(options.scenarioPath);
    if (generated) {
        std::ofstream(scenario) << SoakScenario(options.seed, options.events);
    }

    std::vector<std::string> problems;
    std::string first;
    for (uint32_t run = 1; run <= options.runs; ++run) {
        const int status = PlayOnce(scenario, folder, run);
        const fs::path prefix = folder / ("run-" + std::to_string(run));
        for (const std::string& problem : RunProblems(status, prefix)) {
            problems.push_back("run " + std::to_string(run) + ": " + problem);
        }
        const std::string json = ReadFile(prefix.string() + ".json");
        const std::string comparable = json.empty() ? "" : ComparableReport(json);
        if (run == 1) {
            first = comparable;
        } else if (comparable != first) {
            problems.push_back("run " + std::to_string(run) + " differs from run 1: " +
                               FirstDifference(first, comparable));
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (problems.empty()) {
        std::cout << "soak " << what << ": " << options.runs << " runs passed with the same report ("
                  << static_cast<int>(seconds + 0.5) << " s)\n";
        fs::remove_all(folder);
        return 0;
    }
    std::cout << "soak " << what << ": FAILED\n";
    for (const std::string& problem : problems) {
        std::cout << "  " << problem << "\n";
    }
    std::cout << "  reports and errors of the runs: " << folder.string() << "\n";
    if (generated) {
        const std::string save =
            options.savePath.empty() ? "soak-seed-" + std::to_string(options.seed) + ".xml" : options.savePath;
        fs::copy_file(scenario, save, fs::copy_options::overwrite_existing);
        std::cout << "  the scenario: " << save << "\n"
                  << "  replay: halvex-sim --instant " << save << "   (or: halvex-sim soak --scenario " << save
                  << ")\n";
    }
    return 1;
}

}  // namespace

std::string ComparableReport(const std::string& jsonText)
{
    const nlohmann::json report = nlohmann::json::parse(jsonText);
    // Process ids become their order of appearance.
    std::map<std::string, std::string> pids;
    nlohmann::json processes = nlohmann::json::array();
    for (const auto& process : report.at("processes")) {
        const std::string pid = std::to_string(process.at("pid").get<int>());
        pids.emplace(pid, "<process " + std::to_string(pids.size() + 1) + ">");
        processes.push_back(process.at("exit_code"));
    }
    const std::regex number("\\d+");
    const auto withoutPids = [&](const std::string& text) {
        std::string out;
        auto last = text.cbegin();
        for (std::sregex_iterator it(text.begin(), text.end(), number), end; it != end; ++it) {
            out.append(last, (*it)[0].first);
            const auto known = pids.find(it->str());
            out += known != pids.end() ? known->second : it->str();
            last = (*it)[0].second;
        }
        return out.append(last, text.cend());
    };
    nlohmann::json restarts = nlohmann::json::array();
    for (const auto& restart : report.at("restarts")) {
        restarts.push_back({restart.at("verb"), restart.at("file"), withoutPids(restart.at("params")),
                            withoutPids(restart.at("outcome"))});
    }
    const nlohmann::json comparable = {
        {"failures", report.at("failures")},
        {"modem", report.at("modem")},
        {"at", report.at("at")},
        {"status", report.at("status")},
        {"restarts", restarts},
        {"dumps", report.at("dumps").size()},
        {"processes", processes},
    };
    // One line per element, so that a difference names its place.
    std::ostringstream out;
    for (const auto& [key, value] : comparable.items()) {
        if (value.is_array()) {
            for (size_t i = 0; i < value.size(); ++i) {
                out << key << "[" << i << "] " << value[i].dump() << "\n";
            }
        } else {
            out << key << " " << value.dump() << "\n";
        }
    }
    return out.str();
}

int SoakMain(int argc, char** argv)
{
    CLI::App app{"halvex-sim soak: plays a random, legal timeline made from a seed (or a scenario file) several "
                 "times in --instant time; passes when every run passes, no sanitizer reports and every run's "
                 "report is the same. A failing generated scenario is written to a file that replays it.",
                 "halvex-sim soak"};
    SoakOptions options;
    app.add_option("--seed", options.seed, "Seed of the random timeline")->type_name("N");
    app.add_option("--events", options.events, "About how many steps the timeline has (at least 10)")
        ->type_name("M")
        ->check(CLI::Range(10u, 1000000u));
    app.add_option("--runs", options.runs, "How many times the scenario is played (default 2)")
        ->type_name("R")
        ->check(CLI::Range(1u, 100u));
    app.add_option("--scenario", options.scenarioPath, "Play this scenario file instead of a generated one")
        ->type_name("SCENARIO.xml")
        ->check(CLI::ExistingFile);
    app.add_option("--save", options.savePath,
                   "Where a failing generated scenario is written (default soak-seed-N.xml)")
        ->type_name("FILE");
    app.add_flag("--print", options.print, "Only print the scenario of the seed");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? 0 : 2;
    }
    if (options.print) {
        std::cout << SoakScenario(options.seed, options.events);
        return 0;
    }
    return Soak(options);
}

}  // namespace halvex_sim
