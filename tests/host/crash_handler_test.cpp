// A real crash reaching the crash handler: the dump beside the executable,
// the restart request and the end of the process, seen from the parent of
// the process that crashed (the dump and the shell's launch record are files
// of the simulated laptop, which the parent shares).
#include <gmock/gmock.h>

#include <windows.h>

#include <csignal>
#include <cstdlib>
#include <regex>
#include <thread>

#include "host/crash_handler.h"
#include "machine_fixture.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kFolder = "C:\\Program Files\\Varnick Wireless Inc\\Halvex Service";
constexpr uint32_t kServiceProcessId = 4321;
constexpr const char* kTaskkill =
    "/C taskkill /pid 4321 /f & ping -n 1 127.0.0.1>nul & net start \"Varnick Halvex Service\"";
constexpr int kFatalAppExitStatus = 21;
const std::string kGuidDumpName = "[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.dmp";

void WriteThroughNull()
{
    static volatile int* volatile nowhere = nullptr;
    *nowhere = 7;
}

__attribute__((no_sanitize("undefined"))) void DivideByZero()
{
    static volatile int dividend = 7;
    static volatile int zero = 0;
    dividend = dividend / zero;
}

// Installs the handler as the service's entry does, then faults on a thread
// of its own.
void CrashOnAnotherThread(void (*fault)())
{
    SetUnhandledExceptionFilter(UnhandledExceptionHandler);
    std::thread(fault).join();
}

class CrashHandler : public MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        UseFolder(kFolder);
        machine().serviceDatabase().SetProcessId(sim::ServiceDatabase::kServiceName, kServiceProcessId);
    }
    void UseFolder(const std::string& folder)
    {
        m_folder = folder;
        machine().SetExecutablePath(folder + "\\HalvexService.exe");
        machine().fileSystem().WriteFile(machine().ExecutablePath(), "program");
    }
    std::vector<std::string> Dumps()
    {
        std::vector<std::string> dumps;
        for (const std::string& name : machine().fileSystem().List(m_folder)) {
            if (name != "HalvexService.exe") {
                dumps.push_back(name);
            }
        }
        return dumps;
    }
    sim::DumpedException ReadDump(const std::string& name)
    {
        sim::DumpedException dumped;
        EXPECT_TRUE(sim::Crash::ReadMiniDump(machine().fileSystem().HostPath(m_folder + "\\" + name), dumped));
        return dumped;
    }
    std::vector<std::string> LaunchedParameters()
    {
        std::vector<std::string> parameters;
        for (const auto& launch : machine().shell().Launches()) {
            parameters.push_back(launch.parameters);
        }
        return parameters;
    }

    std::string m_folder;
};

struct FaultCase {
    const char* name;
    void (*fault)();
    uint32_t code;
};

void PrintTo(const FaultCase& fault, std::ostream* out)
{
    *out << fault.name;
}

class CrashFault : public CrashHandler, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(CrashFault, DumpsBesideTheExecutableRestartsTheRunningServiceAndEnds)
{
    EXPECT_EXIT(CrashOnAnotherThread(GetParam().fault), ::testing::ExitedWithCode(kFatalAppExitStatus),
                "Fatal Error");
    auto dumps = Dumps();
    ASSERT_EQ(dumps.size(), 1u);
    EXPECT_TRUE(std::regex_match(dumps[0], std::regex(kGuidDumpName))) << dumps[0];
    EXPECT_EQ(ReadDump(dumps[0]).code, GetParam().code);
    EXPECT_THAT(LaunchedParameters(), ElementsAre(kTaskkill));
}

INSTANTIATE_TEST_SUITE_P(Faults, CrashFault,
                         ::testing::Values(FaultCase{"AccessViolation", WriteThroughNull, EXCEPTION_ACCESS_VIOLATION},
                                           FaultCase{"DivideByZero", DivideByZero, EXCEPTION_INT_DIVIDE_BY_ZERO},
                                           FaultCase{"Abort", std::abort, STATUS_FATAL_APP_EXIT}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CrashHandler, AccessViolationRecordsAWriteToItsAddress)
{
    EXPECT_EXIT(CrashOnAnotherThread(WriteThroughNull), ::testing::ExitedWithCode(kFatalAppExitStatus), "");
    auto dumps = Dumps();
    ASSERT_EQ(dumps.size(), 1u);
    EXPECT_THAT(ReadDump(dumps[0]).parameters, ElementsAre(1u, 0u));
}

TEST_F(CrashHandler, ADumpOfTheSameNameIsOverwritten)
{
    const uint8_t guid[16] = {0x67, 0x45, 0x23, 0x01, 0xAB, 0x89, 0xEF, 0xCD,
                              0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    machine().crash().RepeatGuid(guid);
    const std::string name = "01234567-89AB-CDEF-0123-456789ABCDEF.dmp";
    machine().fileSystem().WriteFile(m_folder + "\\" + name, std::string(4096, 'x'));

    EXPECT_EXIT(CrashOnAnotherThread(WriteThroughNull), ::testing::ExitedWithCode(kFatalAppExitStatus), "");
    EXPECT_THAT(Dumps(), ElementsAre(name));
    EXPECT_EQ(ReadDump(name).code, EXCEPTION_ACCESS_VIOLATION);
    EXPECT_LT(machine().fileSystem().ReadFile(m_folder + "\\" + name).size(), 4096u);
}

TEST_F(CrashHandler, WithoutAGuidOrWithAFolderTooLongForTheNameNoDumpIsWrittenButTheServiceRestarts)
{
    machine().crash().FailGuids(E_FAIL);
    EXPECT_EXIT(CrashOnAnotherThread(WriteThroughNull), ::testing::ExitedWithCode(kFatalAppExitStatus),
                "Fatal Error");
    EXPECT_THAT(Dumps(), IsEmpty());

    machine().crash().FailGuids(S_OK);
    // 220 characters with the backslash: 40 more do not fit in 260.
    UseFolder("C:\\" + std::string(100, 'a') + "\\" + std::string(115, 'b'));
    ASSERT_EQ(m_folder.size() + 1, 220u);
    EXPECT_EXIT(CrashOnAnotherThread(WriteThroughNull), ::testing::ExitedWithCode(kFatalAppExitStatus),
                "Fatal Error");
    EXPECT_THAT(Dumps(), IsEmpty());
    EXPECT_THAT(LaunchedParameters(), ElementsAre(kTaskkill, kTaskkill));
}

TEST_F(CrashHandler, WithoutABackslashInTheExecutablePathItOnlyEnds)
{
    machine().SetExecutablePath("HalvexService.exe");
    EXPECT_EXIT(CrashOnAnotherThread(WriteThroughNull), ::testing::ExitedWithCode(kFatalAppExitStatus),
                "Fatal Error");
    EXPECT_THAT(Dumps(), IsEmpty());
    EXPECT_THAT(machine().fileSystem().List("C:\\Windows\\System32"), IsEmpty());
    EXPECT_THAT(LaunchedParameters(), IsEmpty());
}

}  // namespace
