#include <gtest/gtest.h>

#include <windows.h>

#include <set>
#include <string>

#include "machine_fixture.h"

using Files = MachineTest;

TEST_F(Files, CreateDirectoryReportsExistingAndMissingParents)
{
    EXPECT_TRUE(CreateDirectoryA("C:\\Data", nullptr));
    EXPECT_FALSE(CreateDirectoryA("C:\\Data", nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(CreateDirectoryA("C:\\Missing\\Child", nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(CreateDirectoryA("C:\\", nullptr));
    EXPECT_EQ(GetFileAttributesA("C:\\Data"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
}

TEST_F(Files, FindMatchesWildcardsWithoutCaseAndReportsSizeAndCreationTime)
{
    auto& fs = machine().fileSystem();
    fs.WriteFile("C:\\Logs\\app_1.log", "12345");
    fs.WriteFile("C:\\Logs\\APP_2.LOG", "");
    fs.WriteFile("C:\\Logs\\app_3.txt", "x");
    fs.WriteFile("C:\\Logs\\other.log", "x");
    fs.SetCreationTime("C:\\Logs\\app_1.log", 1000000000);

    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA("C:\\Logs\\app_*.log", &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    std::set<std::string> names;
    do {
        names.insert(data.cFileName);
        if (std::string(data.cFileName) == "app_1.log") {
            EXPECT_EQ(data.nFileSizeLow, 5u);
            EXPECT_EQ(data.nFileSizeHigh, 0u);
            uint64_t ticks = (static_cast<uint64_t>(data.ftCreationTime.dwHighDateTime) << 32) |
                             data.ftCreationTime.dwLowDateTime;
            EXPECT_EQ(ticks / 10000000ULL - 11644473600ULL, 1000000000ULL);
        }
    } while (FindNextFileA(find, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(find));
    EXPECT_EQ(names, (std::set<std::string>{"app_1.log", "APP_2.LOG"}));

    EXPECT_EQ(FindFirstFileA("C:\\Logs\\none_*.log", &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(FindFirstFileA("C:\\Nowhere\\*.log", &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(Files, DeleteFileRemovesFilesOnly)
{
    auto& fs = machine().fileSystem();
    fs.WriteFile("C:\\Logs\\a.log", "x");
    EXPECT_TRUE(DeleteFileA("C:\\Logs\\a.log"));
    EXPECT_FALSE(fs.Exists("C:\\Logs\\a.log"));
    EXPECT_FALSE(DeleteFileA("C:\\Logs\\a.log"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(DeleteFileA("C:\\Logs"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(Files, ModuleFileNameIsCutToTheBufferWithTheWindowsResult)
{
    machine().SetExecutablePath("C:\\Svc\\HalvexService.exe");
    char full[MAX_PATH];
    EXPECT_EQ(GetModuleFileNameA(nullptr, full, MAX_PATH), 24u);
    EXPECT_STREQ(full, "C:\\Svc\\HalvexService.exe");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));

    char small[8];
    EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof(small)), 8u);
    EXPECT_STREQ(small, "C:\\Svc\\");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

    wchar_t wide[MAX_PATH];
    EXPECT_EQ(GetModuleFileNameW(nullptr, wide, MAX_PATH), 24u);
    EXPECT_STREQ(wide, L"C:\\Svc\\HalvexService.exe");
}

TEST_F(Files, WindowsPathsLiveUnderTheMachinesOwnRoot)
{
    auto& fs = machine().fileSystem();
    EXPECT_EQ(fs.HostPath("C:\\ProgramData\\x.log"), fs.Root() + "/C/ProgramData/x.log");
    EXPECT_EQ(fs.HostPath("c:/ProgramData/x.log"), fs.Root() + "/C/ProgramData/x.log");
    std::string before = fs.Root();
    machine().Reset();
    EXPECT_NE(fs.Root(), before);
}
