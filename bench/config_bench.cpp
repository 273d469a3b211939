// A DPRConfig.xml of many laptop models: the service's load plus one platform
// check (the machine is the last model, so the check walks the whole list)
// against a bare tinyxml2 load of the same file. Both run in turn within each
// iteration and are timed by the CPU time of the thread (single-threaded work:
// the time it ran, not the time this shared machine kept it waiting).
#include <benchmark/benchmark.h>

#include <tinyxml2.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"
#include "config/config_model.h"
#include "config/xml_helper.h"
#include "logging/log_helper.h"
#include "platform/verify_platform.h"
#include "portability/portability.h"
#include "sim/machine.h"
#include "sim/smbios_builder.h"

namespace {

constexpr const char* kConfigPath = "C:\\Program Files\\Varnick Wireless Inc\\Halvex Service\\DPRConfig.xml";

std::string ModelName(int n)
{
    char name[32];
    std::snprintf(name, sizeof(name), "Model%05d", n);
    return name;
}

// One project per model, each with the four settings of a single-band module.
std::string GenerateConfig(int models)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<config>\n";
    for (int n = 1; n <= models; ++n) {
        xml += "  <project name=\"" + ModelName(n) +
               "\">\n"
               "    <processor manufacturer=\"AMD\">\n"
               "      <module method=\"single band\">\n"
               "        <dpr mode=\"LTE\" band=\"1\" maxpower=\"22\" rowgrads=\"6\" columngrads=\"4\"/>\n"
               "        <dpr mode=\"LTE\" band=\"3\" maxpower=\"21\" rowgrads=\"6\" columngrads=\"4\"/>\n"
               "        <dpr mode=\"WCDMA\" band=\"1\" maxpower=\"23\" rowgrads=\"6\" columngrads=\"4\"/>\n"
               "        <dpr mode=\"GSM\" maxpower=\"30\" rowgrads=\"4\" columngrads=\"2\"/>\n"
               "      </module>\n"
               "    </processor>\n"
               "  </project>\n";
    }
    return xml + "</config>\n";
}

void SetUpLaptop(int models)
{
    sim::Machine& machine = sim::Machine::Get();
    machine.Reset();
    machine.fileSystem().WriteFile(kConfigPath, GenerateConfig(models));
    sim::SmbiosSystem system;
    system.version = ModelName(models);
    machine.firmware().SetSmbiosTable(
        sim::SmbiosBuilder().AddSystem(system).AddProcessor("AMD Ryzen 7 PRO Processor").Build());
    LogHelper::Init();
}

void BM_LoadAndCheck(benchmark::State& state)
{
    const int models = static_cast<int>(state.range(0));
    SetUpLaptop(models);
    const std::string nativePath = NativePath(kConfigPath);
    // One untimed round first: the first load of a large file pays for
    // growing the heap, which the later ones reuse.
    {
        ModuleConfig config;
        XMLHelper::ParseXMLContent();
        platform::VerifyPlatform(config);
        tinyxml2::XMLDocument document;
        document.LoadFile(nativePath.c_str());
    }
    std::vector<double> ours;
    std::vector<double> bare;
    for (auto _ : state) {
        double start = bench::ThreadCpuSeconds();
        ModuleConfig config;
        const bool loaded = XMLHelper::ParseXMLContent();
        const bool fits = platform::VerifyPlatform(config);
        ours.push_back(bench::ThreadCpuSeconds() - start);
        if (!loaded || !fits || ProjectConfigList().size() != static_cast<size_t>(models)) {
            state.SkipWithError("the generated configuration was not loaded or did not fit");
            LogHelper::Shutdown();
            return;
        }

        // Each side frees what it built within its own time, so each starts
        // right after the other has freed its document.
        start = bench::ThreadCpuSeconds();
        {
            tinyxml2::XMLDocument document;
            benchmark::DoNotOptimize(document.LoadFile(nativePath.c_str()));
        }
        bare.push_back(bench::ThreadCpuSeconds() - start);

        state.SetIterationTime(ours.back() + bare.back());
    }
    LogHelper::Shutdown();
    bench::ReportAgainstBaseline(state, ours, bare);
    state.counters["ours_us_per_model"] = bench::Median(ours) * 1e6 / models;
}
BENCHMARK(BM_LoadAndCheck)->ArgName("models")->Arg(500)->Arg(5000)->UseManualTime()->Unit(benchmark::kMillisecond);
// A few iterations at the largest size, whatever the minimum time: the median
// needs more than one.
BENCHMARK(BM_LoadAndCheck)
    ->ArgName("models")
    ->Arg(50000)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
