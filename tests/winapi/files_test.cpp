#include <gtest/gtest.h>

#include <halvex_native_path.h>
#include <windows.h>
#include <dbghelp.h>
#include <sddl.h>
#include <aclapi.h>

#include <cstdio>
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

BY_HANDLE_FILE_INFORMATION InfoOf(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION info{};
    EXPECT_TRUE(GetFileInformationByHandle(file, &info));
    return info;
}

BOOL MarkForDeletion(HANDLE file)
{
    FILE_DISPOSITION_INFO disposition{TRUE};
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition));
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

TEST_F(Files, DeletingByHandleTakesTheNameOpenedAndHonoursSharingAndAccess)
{
    auto& fs = machine().fileSystem();
    fs.WriteFile("C:\\Windows\\System32\\victim.dll", "system file");
    fs.PlantSymbolicLink("C:\\Logs\\link.log", "C:\\Windows\\System32\\victim.dll");
    fs.PlantHardLink("C:\\Logs\\hard.log", "C:\\Windows\\System32\\victim.dll");
    std::ofstream held(fs.WriteFile("C:\\Logs\\a.log", "x"), std::ios::app);
    const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

    // A library's open shares no deletion; a handle without DELETE cannot mark.
    EXPECT_EQ(CreateFileA("C:\\Logs\\a.log", DELETE, all, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    held.close();
    HANDLE reader = CreateFileA("C:\\Logs\\a.log", FILE_READ_ATTRIBUTES, all, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_FALSE(MarkForDeletion(reader));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(reader);

    // The link itself, not its target; the hard link shows its second name.
    HANDLE link = CreateFileA("C:\\Logs\\link.log", DELETE, all, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                              nullptr);
    HANDLE hard = CreateFileA("C:\\Logs\\hard.log", DELETE, all, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                              nullptr);
    HANDLE plain = CreateFileA("C:\\Logs\\a.log", DELETE, all, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                               nullptr);
    EXPECT_EQ(InfoOf(link).dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(InfoOf(hard).nNumberOfLinks, 2u);
    EXPECT_EQ(InfoOf(plain).nNumberOfLinks, 1u);
    EXPECT_TRUE(MarkForDeletion(link));
    EXPECT_TRUE(MarkForDeletion(hard));
    EXPECT_TRUE(MarkForDeletion(plain));
    EXPECT_TRUE(fs.Exists("C:\\Logs\\a.log"));  // until the handle closes
    CloseHandle(link);
    CloseHandle(hard);
    CloseHandle(plain);
    EXPECT_EQ(fs.List("C:\\Logs"), std::vector<std::string>{});
    EXPECT_EQ(fs.ReadFile("C:\\Windows\\System32\\victim.dll"), "system file");

    EXPECT_EQ(CreateFileA("C:\\Logs", DELETE, all, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));  // a folder needs backup semantics
}

TEST_F(Files, APathThroughAJunctionReachesItsTarget)
{
    auto& fs = machine().fileSystem();
    fs.WriteFile("C:\\Target\\inside.txt", "t");
    fs.PlantJunction("C:\\ProgramData\\Junction", "C:\\Target");
    ASSERT_TRUE(CreateDirectoryA("C:\\ProgramData\\Junction\\New", nullptr));
    HANDLE file = CreateFileA("C:\\ProgramData\\JUNCTION\\n.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_EQ(fs.List("C:\\Target"), (std::vector<std::string>{"New", "inside.txt", "n.txt"}));

    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("C:\\ProgramData\\Junc*", &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    FindClose(search);
    EXPECT_EQ(found.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

TEST_F(Files, AWriteThatTheDaclDeniesFailsWithAccessDenied)
{
    auto& fs = machine().fileSystem();
    fs.WriteFile("C:\\Locked\\old.txt", "old");
    // SYSTEM may read; a deny entry before a grant takes what it names.
    fs.SetSecurity("C:\\Locked", {"S-1-5-21-1-2-3-1001",
                                  true,
                                  true,
                                  {{sim::acl::kDeny, sim::acl::kObjectInherit, sim::acl::kAddFile, sim::sid::kSystem},
                                   {sim::acl::kAllow, sim::acl::kObjectInherit | sim::acl::kContainerInherit,
                                    sim::acl::kReadExecute | sim::acl::kAddFile, sim::sid::kSystem}}});
    EXPECT_EQ(CreateFileA("C:\\Locked\\new.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(CreateFileA("C:\\Locked\\old.txt", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(CreateDirectoryA("C:\\Locked\\Sub", nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    HANDLE reader = CreateFileA("C:\\Locked\\old.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    CloseHandle(reader);
    EXPECT_EQ(fs.List("C:\\Locked"), std::vector<std::string>{"old.txt"});
}

// The descriptor given at creation, read back; what lies below inherits the
// entries meant for it: folders the container entries, files the object ones.
TEST_F(Files, ADescriptorGivenAtCreationIsReadBackAndInheritedBelow)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;SY)(A;CI;0x1200a9;;;AU)",
                                                                     SDDL_REVISION_1, &descriptor, nullptr));
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
    ASSERT_TRUE(CreateDirectoryA("C:\\Own", &attributes));
    LocalFree(descriptor);
    ASSERT_TRUE(CreateDirectoryA("C:\\Own\\Sub", nullptr));
    machine().fileSystem().WriteFile("C:\\Own\\Sub\\f.txt", "");

    auto entries = [](const char* path, DWORD access, DWORD& control) {
        std::vector<std::string> found;
        HANDLE object = CreateFileA(path, access, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        PSID owner = nullptr;
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR read = nullptr;
        DWORD result = GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                       &owner, nullptr, &dacl, nullptr, &read);
        CloseHandle(object);
        if (result != ERROR_SUCCESS) {
            return std::vector<std::string>{"error " + std::to_string(result)};
        }
        BYTE system[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof(system);
        CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &size);
        EXPECT_TRUE(EqualSid(owner, system));
        WORD bits = 0;
        DWORD revision = 0;
        GetSecurityDescriptorControl(read, &bits, &revision);
        control = bits & SE_DACL_PROTECTED;
        for (DWORD i = 0; i < dacl->AceCount; ++i) {
            void* ace = nullptr;
            GetAce(dacl, i, &ace);
            auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
            char text[64];
            std::snprintf(text, sizeof(text), "%u %02x %08x %u", allowed->Header.AceType, allowed->Header.AceFlags,
                          allowed->Mask, reinterpret_cast<BYTE*>(&allowed->SidStart)[1]);
            found.push_back(text);
        }
        LocalFree(read);
        return found;
    };
    DWORD control = 0;
    EXPECT_EQ(entries("C:\\Own", READ_CONTROL, control), (std::vector<std::string>{"0 03 001f01ff 1", "0 02 001200a9 1"}));
    EXPECT_EQ(control, static_cast<DWORD>(SE_DACL_PROTECTED));
    EXPECT_EQ(entries("C:\\Own\\Sub", READ_CONTROL, control),
              (std::vector<std::string>{"0 13 001f01ff 1", "0 12 001200a9 1"}));
    EXPECT_EQ(control, 0u);
    EXPECT_EQ(entries("C:\\Own\\Sub\\f.txt", READ_CONTROL, control), (std::vector<std::string>{"0 10 001f01ff 1"}));
    EXPECT_EQ(entries("C:\\Own", FILE_READ_ATTRIBUTES, control), (std::vector<std::string>{"error 5"}));
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

// A Windows path and where it lands under the laptop's root ("": nowhere).
using PathCase = std::pair<std::string, std::string>;

class WindowsPaths : public MachineTest, public testing::WithParamInterface<PathCase> {};

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
    testing::Values(PathCase("C:\\ProgramData\\x.log", "/C/ProgramData/x.log"),
                    PathCase("c:/ProgramData/x.log", "/C/ProgramData/x.log"), PathCase("C:\\..\\..\\x", "/C/x"),
                    PathCase("C:/a/../../../b/./x", "/C/b/x"), PathCase("\\..\\x", "/C/x"),
                    PathCase("..\\..\\..\\..\\x", "/C/x"), PathCase("x.log", "/C/Windows/System32/x.log"),
                    PathCase("D:\\x", ""), PathCase("\\\\server\\share\\x", ""), PathCase("//server/share/x", ""),
                    PathCase("\\\\?\\C:\\x", ""), PathCase("\\\\.\\C:\\x", "")));
