// halvex-folder-probe.exe sd PATH | junction LINK TARGET | symlink LINK TARGET
// A test-only probe for the log folder check:
//   sd        prints "owner=<SID> dacl=<DACL as descriptor text>" as the system reports them
//   junction  creates the folder LINK and makes it a mount point to TARGET
//   symlink   makes LINK a symbolic link to the folder TARGET
// Prints one line; exit status 0 on success, 1 on a failed call (its step and
// error in the line), 2 for a bad command line.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr DWORD kSetReparsePoint = 0x000900A4;  // FSCTL_SET_REPARSE_POINT
constexpr DWORD kMountPointTag = 0xA0000003;    // IO_REPARSE_TAG_MOUNT_POINT

int Failed(const char* step)
{
    std::printf("failed step=%s error=%lu\n", step, static_cast<unsigned long>(GetLastError()));
    return 1;
}

int PrintSecurity(const wchar_t* path)
{
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD result = GetNamedSecurityInfoW(path, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                         &owner, nullptr, &dacl, nullptr, &descriptor);
    if (result != ERROR_SUCCESS) {
        SetLastError(result);
        return Failed("GetNamedSecurityInfoW");
    }
    LPWSTR ownerText = nullptr;
    LPWSTR daclText = nullptr;
    if (!ConvertSidToStringSidW(owner, &ownerText) ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                              &daclText, nullptr)) {
        return Failed("convert");
    }
    std::printf("owner=%ls dacl=%ls\n", ownerText, daclText);
    LocalFree(ownerText);
    LocalFree(daclText);
    LocalFree(descriptor);
    return 0;
}

int MakeJunction(const wchar_t* link, const wchar_t* target)
{
    if (!CreateDirectoryW(link, nullptr)) {
        return Failed("CreateDirectoryW");
    }
    HANDLE folder = CreateFileW(link, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
        return Failed("CreateFileW");
    }
    // Tag, data length, reserved; then the substitute and print names, each
    // NUL-terminated, with their offsets and lengths in bytes.
    const std::wstring substitute = std::wstring(L"\\??\\") + target;
    const std::wstring print = target;
    const WORD substituteBytes = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
    const WORD printBytes = static_cast<WORD>(print.size() * sizeof(wchar_t));
    const WORD dataLength = static_cast<WORD>(8 + substituteBytes + printBytes + 2 * sizeof(wchar_t));
    std::vector<BYTE> buffer(8 + dataLength, 0);
    auto put16 = [&buffer](size_t at, WORD value) { std::memcpy(&buffer[at], &value, sizeof(value)); };
    std::memcpy(&buffer[0], &kMountPointTag, sizeof(kMountPointTag));
    put16(4, dataLength);
    put16(8, 0);
    put16(10, substituteBytes);
    put16(12, static_cast<WORD>(substituteBytes + sizeof(wchar_t)));
    put16(14, printBytes);
    std::memcpy(&buffer[16], substitute.c_str(), substituteBytes);
    std::memcpy(&buffer[16 + substituteBytes + sizeof(wchar_t)], print.c_str(), printBytes);
    DWORD returned = 0;
    const BOOL set = DeviceIoControl(folder, kSetReparsePoint, buffer.data(), static_cast<DWORD>(buffer.size()),
                                     nullptr, 0, &returned, nullptr);
    const DWORD error = GetLastError();
    CloseHandle(folder);
    if (!set) {
        SetLastError(error);
        RemoveDirectoryW(link);
        return Failed("FSCTL_SET_REPARSE_POINT");
    }
    std::printf("junction=ok\n");
    return 0;
}

int MakeSymbolicLink(const wchar_t* link, const wchar_t* target)
{
    if (!CreateSymbolicLinkW(link, target, SYMBOLIC_LINK_FLAG_DIRECTORY)) {
        return Failed("CreateSymbolicLinkW");
    }
    std::printf("symlink=ok\n");
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 3 && std::wcscmp(argv[1], L"sd") == 0) {
        return PrintSecurity(argv[2]);
    }
    if (argc == 4 && std::wcscmp(argv[1], L"junction") == 0) {
        return MakeJunction(argv[2], argv[3]);
    }
    if (argc == 4 && std::wcscmp(argv[1], L"symlink") == 0) {
        return MakeSymbolicLink(argv[2], argv[3]);
    }
    std::fprintf(stderr, "usage: halvex-folder-probe sd PATH | junction LINK TARGET | symlink LINK TARGET\n");
    return 2;
}
