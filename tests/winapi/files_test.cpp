#include <gtest/gtest.h>

#include <halvex_native_path.h>
#include <windows.h>
#include <dbghelp.h>

#include <fstream>
#include <string>

#include "machine_fixture.h"

namespace {

using Files = MachineTest;

// The creation time, in seconds since 1970, that the file search reports.
uint64_t CreationSeconds(const char* path)
{
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(path, &data);
    if (find == INVALID_HANDLE_VALUE) {
        return 0;
    }
    FindClose(find);
    const FILETIME& time = data.ftCreationTime;
    return ((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 10000000ULL - 11644473600ULL;
}

}  // namespace

TEST_F(Files, CreationTimeIsTheSimulatedTimeOfCreationAndWritingDoesNotMoveIt)
{
    auto& fs = machine().fileSystem();
    machine().clock().PinWallTime(1000000000);
    std::string host = fs.WriteFile("C:\\Logs\\a.log", "x");
    ASSERT_TRUE(CreateDirectoryA("C:\\Logs\\Folder", nullptr));
    // A library opening the path itself creates the file later.
    std::string library = HalvexNativePath("C:\\Logs\\b.log");
    machine().clock().AdvanceWallTime(3600);
    std::ofstream(host, std::ios::app) << "more";
    fs.WriteFile("C:\\Logs\\a.log", "rewritten");
    std::ofstream(library) << "created by the library";

    EXPECT_EQ(CreationSeconds("C:\\Logs\\a.log"), 1000000000u);
    EXPECT_EQ(CreationSeconds("C:\\Logs\\Folder"), 1000000000u);
    EXPECT_EQ(CreationSeconds("C:\\Logs\\b.log"), 1000000000u);
}

TEST_F(Files, DeleteFileRemovesClosedFilesOnly)
{
    auto& fs = machine().fileSystem();
    std::ofstream open(fs.WriteFile("C:\\Logs\\a.log", "x"), std::ios::app);
    EXPECT_FALSE(DeleteFileA("C:\\Logs\\a.log"));  // opened without delete sharing
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    open.close();
    EXPECT_TRUE(DeleteFileA("C:\\LOGS\\A.LOG"));
    EXPECT_FALSE(fs.Exists("C:\\Logs\\a.log"));
    EXPECT_FALSE(DeleteFileA("C:\\Logs"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(Files, NamesAreFoundWithoutCaseAtEveryLevelAndNewNamesKeepTheirCase)
{
    auto& fs = machine().fileSystem();
    fs.WriteFile("C:\\ProgramData\\Varnick Wireless Inc\\DPR Service\\a.log", "x");
    EXPECT_FALSE(CreateDirectoryA("D:\\Tools", nullptr));  // no such drive yet
    fs.WriteFile("D:\\Tools\\b.txt", "y");
    EXPECT_FALSE(CreateDirectoryA("C:\\Missing\\Child", nullptr));  // parents are not made on the way
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(GetFileAttributesA("c:\\programdata\\VARNICK wireless inc\\dpr SERVICE\\A.LOG"),
              static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_TRUE(CreateDirectoryA("c:\\PROGRAMDATA\\varnick WIRELESS inc\\New Folder", nullptr));
    EXPECT_TRUE(CreateDirectoryA("d:\\TOOLS\\Sub", nullptr));
    EXPECT_EQ(fs.List("C:\\ProgramData\\Varnick Wireless Inc"), (std::vector<std::string>{"DPR Service", "New Folder"}));
    EXPECT_EQ(fs.List("D:\\Tools"), (std::vector<std::string>{"Sub", "b.txt"}));
}

TEST_F(Files, CreateFileWHonoursSharingAndTheDumpWriterNeedsWriteAccess)
{
    auto& fs = machine().fileSystem();
    fs.WriteFile("C:\\Dumps\\a.dmp", "old content");
    HANDLE writer = CreateFileW(L"c:\\dumps\\A.DMP", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(fs.ReadFile("C:\\Dumps\\a.dmp"), "");
    EXPECT_EQ(CreateFileW(L"C:\\Dumps\\a.dmp", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(CloseHandle(writer));

    HANDLE reader = CreateFileW(L"C:\\Dumps\\a.dmp", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), reader, MiniDumpNormal, nullptr,
                                   nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_ACCESSDENIED));
    EXPECT_TRUE(CloseHandle(reader));

    EXPECT_EQ(CreateFileW(L"C:\\Missing\\a.dmp", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

class WindowsPaths : public MachineTest, public testing::WithParamInterface<std::pair<const char*, const char*>> {};

// No path leaves the laptop's root: ".." stops at the drive root; UNC, device
// paths and missing drives have no place ("").
TEST_P(WindowsPaths, StayUnderTheLaptopsRoot)
{
    auto& fs = machine().fileSystem();
    std::string expected = GetParam().second;
    EXPECT_EQ(fs.HostPath(GetParam().first), expected.empty() ? "" : fs.Root() + expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WindowsPaths,
    testing::Values(std::make_pair("C:\\ProgramData\\x.log", "/C/ProgramData/x.log"),
                    std::make_pair("c:/ProgramData/x.log", "/C/ProgramData/x.log"),
                    std::make_pair("C:\\..\\..\\x", "/C/x"), std::make_pair("C:/a/../../../b/./x", "/C/b/x"),
                    std::make_pair("\\..\\x", "/C/x"), std::make_pair("..\\..\\..\\..\\x", "/C/x"),
                    std::make_pair("x.log", "/C/Windows/System32/x.log"), std::make_pair("D:\\x", ""),
                    std::make_pair("\\\\server\\share\\x", ""), std::make_pair("//server/share/x", ""),
                    std::make_pair("\\\\?\\C:\\x", ""), std::make_pair("\\\\.\\C:\\x", "")));
