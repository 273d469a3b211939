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
#include "security_blob.h"
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
    struct stat own;
    struct stat target;
    if (lstat(hostPath.c_str(), &own) != 0) {
        return false;
    }
    // A link is listed as itself: a reparse point, with its target's kind.
    const bool link = S_ISLNK(own.st_mode);
    const bool folder = link ? stat(hostPath.c_str(), &target) == 0 && S_ISDIR(target.st_mode) : S_ISDIR(own.st_mode);
    std::memset(&data, 0, sizeof(data));
    data.dwFileAttributes = (folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE) |
                            (link ? FILE_ATTRIBUTE_REPARSE_POINT : 0);
    int64_t created = Files().CreationTime(hostPath.string());
    data.ftCreationTime = ToFileTime(created / 1000, created % 1000 * 1000000);
    data.ftLastAccessTime = ToFileTime(own.st_atim);
    data.ftLastWriteTime = ToFileTime(own.st_mtim);
    uint64_t size = S_ISREG(own.st_mode) ? static_cast<uint64_t>(own.st_size) : 0;
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
    std::strncpy(data.cFileName, name.c_str(), MAX_PATH - 1);
    return true;
}

std::string ParentOf(const std::string& hostPath)
{
    return fs::path(hostPath).parent_path().string();
}

}  // namespace

BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES attributes)
{
    std::string host = Host(path);
    sim::Security security;
    security.owner = Files().Account();
    if (attributes != nullptr && attributes->lpSecurityDescriptor != nullptr) {
        if (!winapi_impl::DescriptorSecurity(attributes->lpSecurityDescriptor, security)) {
            SetLastError(ERROR_INVALID_SECURITY_DESCR);
            return FALSE;
        }
        if (security.owner.empty()) {
            security.owner = Files().Account();
        }
    }
    struct stat info;
    std::error_code ec;
    if (!host.empty() && lstat(host.c_str(), &info) != 0 && fs::is_directory(ParentOf(host), ec) &&
        !Files().Allows(ParentOf(host), FILE_ADD_SUBDIRECTORY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (mkdir(host.c_str(), 0755) == 0) {
        Files().RecordCreation(host);
        Files().SetHostSecurity(host, security);
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

// Files opened with CreateFile and not yet closed.
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
        return ((wanted & (GENERIC_READ | FILE_READ_DATA)) && !(allowed & FILE_SHARE_READ)) ||
               ((wanted & (GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA)) && !(allowed & FILE_SHARE_WRITE)) ||
               ((wanted & DELETE) && !(allowed & FILE_SHARE_DELETE));
    };
    return !conflicts(access, held.share) && !conflicts(held.access, share);
}

bool SameObject(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

FileHandle::FileHandle(int fd_, std::string hostPath_, DWORD access_, DWORD share_)
    : fd(fd_), hostPath(std::move(hostPath_)), access(access_), share(share_)
{
}

FileHandle::~FileHandle()
{
    // The name goes only while it still names this object.
    struct stat named;
    struct stat mine;
    if (deleteOnClose && lstat(hostPath.c_str(), &named) == 0 && fstat(fd, &mine) == 0 && SameObject(named, mine)) {
        if (S_ISDIR(named.st_mode)) {
            rmdir(hostPath.c_str());
        } else {
            Files().DeleteHostFile(hostPath);
        }
    }
    std::lock_guard<std::mutex> lock(g_openFilesMutex);
    auto& files = OpenFiles();
    files.erase(std::remove(files.begin(), files.end(), this), files.end());
    ::close(fd);
}

}  // namespace winapi_impl

namespace {

HANDLE Fail(DWORD error)
{
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

// Whether the open may go ahead on an existing object under its DACL: the
// rights asked for on the object itself, deletion on it or through its folder.
bool ExistingAllows(const std::string& host, DWORD access, bool checkObject)
{
    const DWORD onObject = access & ~static_cast<DWORD>(DELETE);
    if (checkObject && onObject != 0 && !Files().Allows(host, onObject)) {
        return false;
    }
    return !(access & DELETE) || Files().Allows(host, DELETE) || Files().Allows(ParentOf(host), FILE_DELETE_CHILD);
}

HANDLE OpenFile(const std::string& host, DWORD desiredAccess, DWORD shareMode, DWORD creationDisposition,
                DWORD flagsAndAttributes)
{
    using winapi_impl::FileHandle;
    int flags = O_CLOEXEC;
    switch (creationDisposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING: flags |= O_TRUNC; break;
    default: return Fail(ERROR_INVALID_PARAMETER);
    }
    const bool reads = (desiredAccess & (GENERIC_READ | FILE_READ_DATA)) != 0;
    const bool writes = (desiredAccess & (GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
    flags |= reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;

    std::lock_guard<std::mutex> lock(winapi_impl::g_openFilesMutex);
    size_t ownOpens = 0;
    for (const FileHandle* held : winapi_impl::OpenFiles()) {
        if (held->hostPath == host) {
            ++ownOpens;
            if (!winapi_impl::SharingAllows(*held, desiredAccess, shareMode)) {
                return Fail(ERROR_SHARING_VIOLATION);
            }
        }
    }
    struct stat own;
    struct stat target;
    const bool named = !host.empty() && lstat(host.c_str(), &own) == 0;
    const bool existed = !host.empty() && stat(host.c_str(), &target) == 0;
    const bool link = named && S_ISLNK(own.st_mode) && (flagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT);
    const bool folder = existed && S_ISDIR(target.st_mode);
    if (named && creationDisposition == CREATE_NEW) {
        return Fail(ERROR_FILE_EXISTS);
    }
    if (folder && !(flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS)) {
        return Fail(ERROR_ACCESS_DENIED);  // a folder is no file
    }
    if ((link || folder) && creationDisposition != OPEN_EXISTING && creationDisposition != OPEN_ALWAYS) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    if (existed || link) {
        if (!ExistingAllows(host, desiredAccess, !link)) {
            return Fail(ERROR_ACCESS_DENIED);
        }
        // Libraries (spdlog's log among them) open files without delete sharing.
        if ((desiredAccess & DELETE) && !link && Files().OpenDescriptors(host) > ownOpens) {
            return Fail(ERROR_SHARING_VIOLATION);
        }
    } else if (!host.empty() && fs::is_directory(ParentOf(host)) && !Files().Allows(ParentOf(host), FILE_ADD_FILE)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    const int fd = host.empty() ? -1
                   : link       ? ::open(host.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC)
                   : folder     ? ::open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                                : ::open(host.c_str(), flags, 0644);
    if (fd < 0) {
        const int cause = host.empty() ? ENOENT : errno;
        const bool folderMissing = host.empty() || !fs::is_directory(ParentOf(host));
        return Fail(cause == EEXIST     ? ERROR_FILE_EXISTS
                    : folderMissing     ? ERROR_PATH_NOT_FOUND
                    : cause == ENOENT   ? ERROR_FILE_NOT_FOUND
                                        : ERROR_ACCESS_DENIED);
    }
    if (!existed && !link) {
        Files().RecordCreation(host);
    }
    // Opening over an existing file succeeds and says so, as Windows does.
    SetLastError(existed && (creationDisposition == CREATE_ALWAYS || creationDisposition == OPEN_ALWAYS)
                     ? ERROR_ALREADY_EXISTS
                     : ERROR_SUCCESS);
    auto* handle = new FileHandle(fd, host, desiredAccess, shareMode);
    winapi_impl::OpenFiles().push_back(handle);
    return handle;
}

winapi_impl::FileHandle* FileOf(HANDLE handle)
{
    return dynamic_cast<winapi_impl::FileHandle*>(winapi_impl::FromHandle(handle));
}

}  // namespace

HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE)
{
    return OpenFile(Host(fileName), desiredAccess, shareMode, creationDisposition, flagsAndAttributes);
}

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE)
{
    const std::string host = fileName ? Host(sim::Narrow(fileName).c_str()) : std::string();
    return OpenFile(host, desiredAccess, shareMode, creationDisposition, flagsAndAttributes);
}

BOOL GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information)
{
    auto* handle = FileOf(file);
    struct stat info;
    if (handle == nullptr || information == nullptr || fstat(handle->fd, &info) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const bool link = S_ISLNK(info.st_mode);
    struct stat target;
    const bool folder = link ? stat(handle->hostPath.c_str(), &target) == 0 && S_ISDIR(target.st_mode)
                             : S_ISDIR(info.st_mode);
    std::memset(information, 0, sizeof(*information));
    information->dwFileAttributes = (folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE) |
                                    (link ? FILE_ATTRIBUTE_REPARSE_POINT : 0);
    const int64_t created = Files().CreationTime(handle->hostPath);
    information->ftCreationTime = ToFileTime(created / 1000, created % 1000 * 1000000);
    information->ftLastAccessTime = ToFileTime(info.st_atim);
    information->ftLastWriteTime = ToFileTime(info.st_mtim);
    information->dwVolumeSerialNumber = static_cast<DWORD>(info.st_dev);
    const uint64_t size = S_ISREG(info.st_mode) ? static_cast<uint64_t>(info.st_size) : 0;
    information->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    information->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
    information->nNumberOfLinks = static_cast<DWORD>(info.st_nlink);
    information->nFileIndexHigh = static_cast<DWORD>(static_cast<uint64_t>(info.st_ino) >> 32);
    information->nFileIndexLow = static_cast<DWORD>(info.st_ino & 0xFFFFFFFFu);
    return TRUE;
}

BOOL SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS type, LPVOID information, DWORD size)
{
    auto* handle = FileOf(file);
    if (handle == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (type != FileDispositionInfo || information == nullptr || size < sizeof(FILE_DISPOSITION_INFO)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!(handle->access & DELETE)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const bool wanted = static_cast<FILE_DISPOSITION_INFO*>(information)->DeleteFile != 0;
    struct stat info;
    std::error_code ec;
    if (wanted && fstat(handle->fd, &info) == 0 && S_ISDIR(info.st_mode) &&
        !fs::is_empty(handle->hostPath, ec)) {
        SetLastError(ERROR_DIR_NOT_EMPTY);
        return FALSE;
    }
    handle->deleteOnClose = wanted;
    return TRUE;
}
