// Idle cost, measured from outside the process: halvex-sim runs the service on
// the built-in scenario's laptop in real time (idle/service-idle.xml) and,
// beside it, the same laptop without the service (idle/laptop-only.xml). Once
// the service's bring-ups have settled and its 35 s wait has begun, each service
// process (halvex-sim's child) is read from /proc for 30 s: CPU time, voluntary
// context switches of every thread (each is one wake-up that went back to
// sleep) and resident memory.
#include <benchmark/benchmark.h>

#include <dirent.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

extern char** environ;

namespace {

constexpr std::chrono::seconds kSettleAfterWaitBegins{2};
constexpr std::chrono::seconds kMeasured{30};

struct Sample {
    double cpuSeconds = 0;
    std::map<int, long> wakeUps;  // voluntary context switches by thread id
    long rssKiB = 0;
};

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The number after "<key>:" in a /proc status file.
long StatusField(const std::string& status, const std::string& key)
{
    const size_t at = status.find(key + ":");
    return at == std::string::npos ? 0 : std::stol(status.substr(at + key.size() + 1));
}

// Fields of /proc/<pid>/stat after the command name: state is field 3, ppid 4
// (counting from 1 over the whole line).
std::istringstream StatFieldsFrom(const std::string& stat, int first)
{
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string skip;
    for (int field = 3; field < first; ++field) {
        fields >> skip;
    }
    return fields;
}

// Per thread: its wake-ups, and its time on a core (the first field of
// schedstat, in nanoseconds: finer than the clock ticks of stat).
Sample Read(pid_t pid)
{
    Sample sample;
    const std::string base = "/proc/" + std::to_string(pid);
    sample.rssKiB = StatusField(ReadFile(base + "/status"), "VmRSS");
    if (DIR* tasks = opendir((base + "/task").c_str())) {
        while (const dirent* entry = readdir(tasks)) {
            if (entry->d_name[0] != '.') {
                const std::string task = base + "/task/" + entry->d_name;
                sample.wakeUps[std::stoi(entry->d_name)] =
                    StatusField(ReadFile(task + "/status"), "voluntary_ctxt_switches");
                double runNs = 0;
                std::istringstream(ReadFile(task + "/schedstat")) >> runNs;
                sample.cpuSeconds += runNs / 1e9;
            }
        }
        closedir(tasks);
    }
    return sample;
}

// The first child process of `parent`.
pid_t ChildOf(pid_t parent)
{
    DIR* proc = opendir("/proc");
    pid_t found = 0;
    while (const dirent* entry = proc ? readdir(proc) : nullptr) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9') {
            continue;
        }
        auto fields = StatFieldsFrom(ReadFile(std::string("/proc/") + entry->d_name + "/stat"), 4);
        pid_t ppid = 0;
        if (fields >> ppid && ppid == parent) {
            found = static_cast<pid_t>(std::stoi(entry->d_name));
            break;
        }
    }
    if (proc) {
        closedir(proc);
    }
    return found;
}

struct Measurement {
    double cpuMs = 0;
    double wakeUpsPerMinute = 0;
    int threadsWoken = 0;
    double rssMiB = 0;
    std::string perThread;
};

// Runs halvex-sim on the scenario and measures its service process once the
// timeline's long wait has begun.
Measurement MeasureIdle(const std::string& scenario)
{
    int out[2];
    if (pipe(out) != 0) {
        throw std::runtime_error("pipe");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string program = HALVEX_SIM;
    char* argv[] = {program.data(), const_cast<char*>(scenario.c_str()), nullptr};
    pid_t sim = 0;
    if (posix_spawn(&sim, program.c_str(), &actions, nullptr, argv, environ) != 0) {
        throw std::runtime_error("cannot start " + program);
    }
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    FILE* progress = fdopen(out[0], "r");
    char line[1024];
    while (std::fgets(line, sizeof(line), progress) && std::string(line).find("<wait ms=") == std::string::npos) {
    }
    const pid_t service = ChildOf(sim);
    if (service == 0) {
        throw std::runtime_error("no service process under halvex-sim for " + scenario);
    }
    std::this_thread::sleep_for(kSettleAfterWaitBegins);
    const Sample before = Read(service);
    std::this_thread::sleep_for(kMeasured);
    const Sample after = Read(service);

    Measurement m;
    const double minutes = std::chrono::duration<double>(kMeasured).count() / 60;
    m.cpuMs = (after.cpuSeconds - before.cpuSeconds) * 1e3;
    m.rssMiB = static_cast<double>(after.rssKiB) / 1024;
    long wakeUps = 0;
    for (const auto& [thread, count] : after.wakeUps) {
        const auto earlier = before.wakeUps.find(thread);
        const long woken = count - (earlier == before.wakeUps.end() ? 0 : earlier->second);
        wakeUps += woken;
        m.threadsWoken += woken > 0 ? 1 : 0;
        m.perThread += " " + std::to_string(woken);
    }
    m.wakeUpsPerMinute = static_cast<double>(wakeUps) / minutes;

    while (std::fgets(line, sizeof(line), progress)) {
    }
    std::fclose(progress);
    int status = 0;
    waitpid(sim, &status, 0);
    return m;
}

void BM_Idle(benchmark::State& state)
{
    for (auto _ : state) {
        Measurement service;
        Measurement laptop;
        std::thread laptopRun([&] { laptop = MeasureIdle(IDLE_SCENARIOS "/laptop-only.xml"); });
        service = MeasureIdle(IDLE_SCENARIOS "/service-idle.xml");
        laptopRun.join();
        state.SetIterationTime(std::chrono::duration<double>(kMeasured).count());
        std::cerr << "idle wake-ups per thread over 30 s, service process:" << service.perThread
                  << "; laptop alone:" << laptop.perThread << "\n";
        state.counters["cpu_ms"] = service.cpuMs;
        state.counters["wakeups_per_min"] = service.wakeUpsPerMinute;
        state.counters["threads_woken"] = service.threadsWoken;
        state.counters["laptop_cpu_ms"] = laptop.cpuMs;
        state.counters["laptop_wakeups_per_min"] = laptop.wakeUpsPerMinute;
        state.counters["rss_mib"] = service.rssMiB;
        state.counters["laptop_rss_mib"] = laptop.rssMiB;
        state.counters["rss_beyond_laptop_mib"] = service.rssMiB - laptop.rssMiB;
    }
}
BENCHMARK(BM_Idle)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
