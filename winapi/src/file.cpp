#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include <windows.h>

#include "handles.h"
#include "sim/machine.h"

namespace fs = std::filesystem;

namespace {

sim::FileSystem& Files()
{
    return sim::Machine::Get().fileSystem();
}

// "" for a null path or one without a place on the laptop: every host call refuses it.
std::string Host(LPCSTR windowsPath)
{
    return windowsPath ? Files().HostPath(windowsPath) : std::string();
}

// Windows wildcard match ('*' and '?'), without regard to case.
bool WildcardMatch(const char* mask, const char* name)
{
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name) {
        char m = static_cast<char>(std::tolower(static_cast<unsigned char>(*mask)));
        char n = static_cast<char>(std::tolower(static_cast<unsigned char>(*name)));
        if (*mask == '*') {
            star = mask++;
            resume = name;
        } else if (*mask == '?' || (m == n && *mask)) {
            ++mask;
            ++name;
        } else if (star) {
            mask = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*mask == '*') {
        ++mask;
    }
    return *mask == '\0';
}

FILETIME ToFileTime(int64_t secondsSince1970, int64_t nanoseconds)
{
    uint64_t ticks = static_cast<uint64_t>(secondsSince1970 + 11644473600LL) * 10000000ULL +
                     static_cast<uint64_t>(nanoseconds) / 100;
    return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

FILETIME ToFileTime(const struct timespec& when)
{
    return ToFileTime(when.tv_sec, when.tv_nsec);
}

struct FindSearch : winapi_impl::KernelObject {
    std::vector<WIN32_FIND_DATAA> matches;
    size_t next = 0;
};

bool Describe(const fs::path& hostPath, const std::string& name, WIN32_FIND_DATAA& data)
{
    struct stat info;
    if (stat(hostPath.c_str(), &info) != 0) {
        return false;
    }
    std::memset(&data, 0, sizeof(data));
    data.dwFileAttributes = S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    int64_t created = Files().CreationTime(hostPath.string());
    data.ftCreationTime = ToFileTime(created / 1000, created % 1000 * 1000000);
    data.ftLastAccessTime = ToFileTime(info.st_atim);
    data.ftLastWriteTime = ToFileTime(info.st_mtim);
    uint64_t size = S_ISDIR(info.st_mode) ? 0 : static_cast<uint64_t>(info.st_size);
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
    std::strncpy(data.cFileName, name.c_str(), MAX_PATH - 1);
    return true;
}

}  // namespace

BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES)
{
    std::string host = Host(path);
    if (mkdir(host.c_str(), 0755) == 0) {
        Files().RecordCreation(host);
        return TRUE;
    }
    switch (errno) {
    case EEXIST:
        SetLastError(ERROR_ALREADY_EXISTS);
        break;
    case ENOENT:
    case ENOTDIR:
        SetLastError(ERROR_PATH_NOT_FOUND);
        break;
    default:
        SetLastError(ERROR_ACCESS_DENIED);
        break;
    }
    return FALSE;
}

DWORD GetFileAttributesA(LPCSTR path)
{
    struct stat info;
    if (stat(Host(path).c_str(), &info) != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    return S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
}

HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data)
{
    if (pattern == nullptr || data == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string windowsPattern = pattern;
    size_t cut = windowsPattern.find_last_of("\\/");
    std::string folder = cut == std::string::npos ? std::string() : windowsPattern.substr(0, cut);
    std::string mask = cut == std::string::npos ? windowsPattern : windowsPattern.substr(cut + 1);

    fs::path hostFolder = Files().HostPath(folder);
    std::error_code ec;
    if (!fs::is_directory(hostFolder, ec)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto* search = new FindSearch();
    for (const auto& entry : fs::directory_iterator(hostFolder, ec)) {
        std::string name = entry.path().filename().string();
        WIN32_FIND_DATAA found;
        if (WildcardMatch(mask.c_str(), name.c_str()) && Describe(entry.path(), name, found)) {
            search->matches.push_back(found);
        }
    }
    if (search->matches.empty()) {
        delete search;
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    *data = search->matches[search->next++];
    return search;
}

BOOL FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA data)
{
    auto* search = dynamic_cast<FindSearch*>(winapi_impl::FromHandle(find));
    if (search == nullptr || data == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (search->next >= search->matches.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    *data = search->matches[search->next++];
    return TRUE;
}

BOOL FindClose(HANDLE find)
{
    auto* search = dynamic_cast<FindSearch*>(winapi_impl::FromHandle(find));
    if (search == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete search;
    return TRUE;
}

BOOL DeleteFileA(LPCSTR path)
{
    std::string host = Host(path);
    struct stat info;
    if (stat(host.c_str(), &info) != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    if (S_ISDIR(info.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // Files are opened without delete sharing (spdlog's log among them): while
    // the process holds one open, Windows refuses to delete it.
    if (Files().HeldOpen(host)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    if (!Files().DeleteHostFile(host)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

namespace {

// Copies the executable path, cut to the buffer with a NUL as Windows does:
// a full buffer returns its size and ERROR_INSUFFICIENT_BUFFER.
template <typename Char>
DWORD CopyModulePath(const std::basic_string<Char>& path, Char* buffer, DWORD size)
{
    if (buffer == nullptr || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() >= size) {
        std::copy(path.begin(), path.begin() + (size - 1), buffer);
        buffer[size - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::copy(path.begin(), path.end(), buffer);
    buffer[path.size()] = 0;
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(path.size());
}

}  // namespace

DWORD GetModuleFileNameA(HMODULE, LPSTR buffer, DWORD size)
{
    return CopyModulePath(sim::Machine::Get().ExecutablePath(), buffer, size);
}

DWORD GetModuleFileNameW(HMODULE, LPWSTR buffer, DWORD size)
{
    return CopyModulePath(sim::Widen(sim::Machine::Get().ExecutablePath()), buffer, size);
}

namespace winapi_impl {

namespace {

std::mutex g_openFilesMutex;

// Files opened with CreateFileW and not yet closed.
std::vector<FileHandle*>& OpenFiles()
{
    static auto* files = new std::vector<FileHandle*>();
    return *files;
}

// Windows' sharing rule: each open must allow what every other open of the
// file does, both ways.
bool SharingAllows(const FileHandle& held, DWORD access, DWORD share)
{
    auto conflicts = [](DWORD wanted, DWORD allowed) {
        return ((wanted & GENERIC_READ) && !(allowed & FILE_SHARE_READ)) ||
               ((wanted & GENERIC_WRITE) && !(allowed & FILE_SHARE_WRITE));
    };
    return !conflicts(access, held.share) && !conflicts(held.access, share);
}

}  // namespace

FileHandle::FileHandle(int fd_, std::string hostPath_, DWORD access_, DWORD share_)
    : fd(fd_), hostPath(std::move(hostPath_)), access(access_), share(share_)
{
    OpenFiles().push_back(this);  // under g_openFilesMutex, held by CreateFileW
}

FileHandle::~FileHandle()
{
    std::lock_guard<std::mutex> lock(g_openFilesMutex);
    auto& files = OpenFiles();
    files.erase(std::remove(files.begin(), files.end(), this), files.end());
    ::close(fd);
}

}  // namespace winapi_impl

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                   DWORD creationDisposition, DWORD, HANDLE)
{
    using winapi_impl::FileHandle;
    std::string host = fileName ? Host(sim::Narrow(fileName).c_str()) : std::string();
    int flags = O_CLOEXEC;
    switch (creationDisposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING: flags |= O_TRUNC; break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const bool reads = (desiredAccess & GENERIC_READ) != 0;
    const bool writes = (desiredAccess & GENERIC_WRITE) != 0;
    flags |= reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;

    std::lock_guard<std::mutex> lock(winapi_impl::g_openFilesMutex);
    for (const FileHandle* held : winapi_impl::OpenFiles()) {
        if (held->hostPath == host && !winapi_impl::SharingAllows(*held, desiredAccess, shareMode)) {
            SetLastError(ERROR_SHARING_VIOLATION);
            return INVALID_HANDLE_VALUE;
        }
    }
    struct stat info;
    const bool existed = !host.empty() && stat(host.c_str(), &info) == 0;
    if (existed && S_ISDIR(info.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);  // a folder is no file
        return INVALID_HANDLE_VALUE;
    }
    const int fd = host.empty() ? -1 : ::open(host.c_str(), flags, 0644);
    if (fd < 0) {
        const int cause = host.empty() ? ENOENT : errno;
        const bool folderMissing = host.empty() || !fs::is_directory(fs::path(host).parent_path());
        SetLastError(cause == EEXIST   ? ERROR_FILE_EXISTS
                     : folderMissing   ? ERROR_PATH_NOT_FOUND
                     : cause == ENOENT ? ERROR_FILE_NOT_FOUND
                                       : ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (!existed) {
        Files().RecordCreation(host);
    }
    // Opening over an existing file succeeds and says so, as Windows does.
    SetLastError(existed && (creationDisposition == CREATE_ALWAYS || creationDisposition == OPEN_ALWAYS)
                     ? ERROR_ALREADY_EXISTS
                     : ERROR_SUCCESS);
    return new FileHandle(fd, host, desiredAccess, shareMode);
}
