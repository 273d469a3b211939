// Real crashes reaching the crash path: the dump beside the executable, the
// restart request, the log and the end of the process, seen from the parent of
// the process that crashed (the dump, the log and the shell's launch record
// are files of the simulated laptop, which the parent shares).
#include <gmock/gmock.h>

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>

#include "host/crash_handler.h"
#include "log_file.h"
#include "logging/log_helper.h"
#include "machine_fixture.h"
#include "portability/stack_guarantee.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kFolder = "C:\\Program Files\\Varnick Wireless Inc\\Halvex Service";
constexpr const char* kFaultingThreadFile = "C:\\faulting-thread.txt";
constexpr uint32_t kServiceProcessId = 4321;
constexpr const char* kTaskkill =
    "/C taskkill /pid 4321 /f & ping -n 1 127.0.0.1>nul & net start \"Varnick Halvex Service\"";
constexpr int kFatalAppExitStatus = 21;
constexpr uint32_t kFatalAppExit = 0x40000015u;
constexpr uint32_t kInvalidRuntimeParameter = 0xC0000417u;
const std::string kGuidDumpName = "[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.dmp";

// Leaves the calling thread's id where the parent finds it.
void NoteFaultingThread()
{
    sim::Machine::Get().fileSystem().WriteFile(kFaultingThreadFile, std::to_string(GetCurrentThreadId()));
}

// Real faults, not the undefined-behaviour checker's reports of them (nor
// the thread checker's, when two threads fault at once on the same address).
__attribute__((no_sanitize("undefined", "thread"))) void WriteThroughNull()
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

void IllegalInstruction()
{
    __builtin_trap();
}

// Recurses until the stack runs into its guard page.
__attribute__((noinline)) int Recurse(int depth)
{
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    return depth < 0 ? 0 : Recurse(depth + 1) + frame[0];
}

void OverflowTheStack()
{
    Recurse(0);
}

void Abort()
{
    std::abort();
}

void Terminate()
{
    std::terminate();
}

void ThrowPastTheThread()
{
    throw std::runtime_error("nobody catches this");
}

// A pure virtual call: the base's constructor calls the function its
// derived class has not yet made real.
struct Shape {
    Shape() { Describe(); }
    virtual ~Shape() = default;
    void Describe() { Area(); }
    virtual int Area() = 0;
};
struct Square : Shape {
    int Area() override { return 1; }
};

void PureCall()
{
    Square square;
}

// What the runtime calls on a bad argument to one of its functions.
void InvalidParameter()
{
    _get_invalid_parameter_handler()(nullptr, nullptr, nullptr, 0, 0);
}

// Starts as the service's entry does, then faults on a thread of its own.
void CrashOnAnotherThread(void (*fault)())
{
    InstallCrashHandler();
    LogHelper::Init();
    std::thread([fault] {
        KeepStackForOverflow();
        NoteFaultingThread();
        fault();
    }).join();
}

class CrashHandler : public MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        // Real time: the faulting thread's bounded wait runs while the crash
        // thread works outside the clock's view.
        machine().clock().Reset(sim::Clock::Mode::Real);
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
    uint32_t FaultingThread()
    {
        return static_cast<uint32_t>(std::stoul(machine().fileSystem().ReadFile(kFaultingThreadFile)));
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

TEST_P(CrashFault, DumpsTheFaultingThreadRestartsTheServiceLogsItAndEnds)
{
    EXPECT_EXIT(CrashOnAnotherThread(GetParam().fault), ::testing::ExitedWithCode(kFatalAppExitStatus),
                "Fatal Error");
    auto dumps = Dumps();
    ASSERT_EQ(dumps.size(), 1u);
    EXPECT_TRUE(std::regex_match(dumps[0], std::regex(kGuidDumpName))) << dumps[0];
    const sim::DumpedException dumped = ReadDump(dumps[0]);
    EXPECT_EQ(dumped.code, GetParam().code);
    EXPECT_EQ(dumped.threadId, FaultingThread());
    EXPECT_THAT(LaunchedParameters(), ElementsAre(kTaskkill));
    const auto log = testsupport::ShutdownAndReadLogMessages();
    EXPECT_TRUE(testsupport::AnyContains(log, "i :   RestartService Processing"));
    EXPECT_TRUE(testsupport::AnyContains(log, "i :    RestartService success."));
}

INSTANTIATE_TEST_SUITE_P(
    Causes, CrashFault,
    ::testing::Values(FaultCase{"AccessViolation", WriteThroughNull, EXCEPTION_ACCESS_VIOLATION},
                      FaultCase{"DivideByZero", DivideByZero, EXCEPTION_INT_DIVIDE_BY_ZERO},
                      FaultCase{"IllegalInstruction", IllegalInstruction, EXCEPTION_ILLEGAL_INSTRUCTION},
                      FaultCase{"StackOverflow", OverflowTheStack, EXCEPTION_STACK_OVERFLOW},
                      FaultCase{"Abort", Abort, kFatalAppExit}, FaultCase{"Terminate", Terminate, kFatalAppExit},
                      FaultCase{"UncaughtException", ThrowPastTheThread, kFatalAppExit},
                      FaultCase{"PureCall", PureCall, kFatalAppExit},
                      FaultCase{"InvalidParameter", InvalidParameter, kInvalidRuntimeParameter}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CrashHandler, AccessViolationRecordsAWriteToItsAddress)
{
    EXPECT_EXIT(CrashOnAnotherThread(WriteThroughNull), ::testing::ExitedWithCode(kFatalAppExitStatus), "");
    auto dumps = Dumps();
    ASSERT_EQ(dumps.size(), 1u);
    EXPECT_THAT(ReadDump(dumps[0]).parameters, ElementsAre(1u, 0u));
}

TEST_F(CrashHandler, OfTwoThreadsFaultingTogetherTheFirstIsReportedOnce)
{
    EXPECT_EXIT(
        {
            InstallCrashHandler();
            std::atomic<int> ready{0};
            auto fault = [&ready] {
                KeepStackForOverflow();
                ++ready;
                while (ready.load() < 2) {
                }
                WriteThroughNull();
            };
            std::thread first(fault);
            std::thread second(fault);
            first.join();
            second.join();
        },
        ::testing::ExitedWithCode(kFatalAppExitStatus), "Fatal Error");
    EXPECT_EQ(Dumps().size(), 1u);
    EXPECT_THAT(LaunchedParameters(), ElementsAre(kTaskkill));
}

TEST_F(CrashHandler, AFaultWhileTheLogIsLockedDropsTheRestartLinesAfterTheBoundAndStillEnds)
{
    EXPECT_EXIT(
        {
            // The log's lock polls are the only sleeps under a second.
            machine().clock().SetSleepHook([](uint32_t milliseconds) {
                static uint32_t polled = 0;
                if (milliseconds < 1000) {
                    polled += milliseconds;
                    std::fprintf(stderr, "polled %u ms\n", polled);
                }
            });
            InstallCrashHandler();
            LogHelper::Init();
            // The line's time stamp is read under the log's lock.
            machine().crash().FaultInNextCall("GetSystemTimeAsFileTime");
            std::thread([] { LogHelper::Log(LOG_LEVEL_INFO, "Test", "a line"); }).join();
        },
        ::testing::ExitedWithCode(kFatalAppExitStatus), "polled 1000 ms\nFatal Error");
    EXPECT_EQ(Dumps().size(), 1u);
    EXPECT_THAT(LaunchedParameters(), ElementsAre(kTaskkill));
    EXPECT_FALSE(testsupport::AnyContains(testsupport::ShutdownAndReadLogMessages(), "RestartService"));
}

TEST_F(CrashHandler, WithoutTheCrashThreadTheFaultingThreadReportsButAnOverflowedStackCannot)
{
    machine().threads().RefuseNext(1);
    EXPECT_EXIT(CrashOnAnotherThread(WriteThroughNull), ::testing::ExitedWithCode(kFatalAppExitStatus),
                "Fatal Error");
    auto dumps = Dumps();
    ASSERT_EQ(dumps.size(), 1u);
    EXPECT_EQ(ReadDump(dumps[0]).threadId, FaultingThread());
    EXPECT_THAT(LaunchedParameters(), ElementsAre(kTaskkill));

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // Writing the dump needs more stack than an overflow leaves: the process
    // dies by the second fault, as on Windows, its dump file left empty. (The
    // sanitizers' signal stacks have no guard page to meet.)
    machine().fileSystem().DeleteHostFile(machine().fileSystem().HostPath(m_folder + "\\" + dumps[0]));
    machine().threads().RefuseNext(1);
    EXPECT_EXIT(CrashOnAnotherThread(OverflowTheStack), ::testing::KilledBySignal(SIGSEGV), "");
    dumps = Dumps();
    ASSERT_EQ(dumps.size(), 1u);
    EXPECT_EQ(machine().fileSystem().ReadFile(m_folder + "\\" + dumps[0]), "");
#endif
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
