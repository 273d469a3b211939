#include "sim/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <tuple>

#include "sim/machine.h"

namespace fs = std::filesystem;

namespace sim {

namespace {

constexpr char kCurrentDrive = 'C';

bool SameNameNoCase(const std::string& a, const std::string& b)
{
    return ToLowerAscii(a) == ToLowerAscii(b);
}

// Splits a Windows path into its drive letter and its names, with "." and ".."
// applied as Windows does. False for UNC and device paths.
bool ParseWindowsPath(const std::string& windowsPath, char& drive, std::vector<std::string>& names)
{
    std::string path = windowsPath;
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    if (path.rfind("\\\\", 0) == 0) {
        return false;  // "\\server\share", "\\?\C:", "\\.\device": no network, no devices
    }
    drive = kCurrentDrive;
    names.clear();
    size_t start = 0;
    if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) {
        drive = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
        start = 2;
    } else if (path.empty() || path[0] != '\\') {
        names = {"Windows", "System32"};
    }
    std::stringstream parts(path.substr(start));
    std::string name;
    while (std::getline(parts, name, '\\')) {
        if (name == "..") {
            if (!names.empty()) {
                names.pop_back();  // never above the drive root
            }
        } else if (!name.empty() && name != ".") {
            names.push_back(name);
        }
    }
    return true;
}

// The entry of the host folder that carries the name without regard to case,
// or the name as given when there is none.
std::string ExistingName(const std::string& hostFolder, const std::string& name)
{
    struct stat info;
    if (lstat((hostFolder + "/" + name).c_str(), &info) == 0) {
        return name;
    }
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(hostFolder, ec)) {
        std::string candidate = entry.path().filename().string();
        if (SameNameNoCase(candidate, name)) {
            return candidate;
        }
    }
    return name;
}

int64_t NowMilliseconds()
{
    std::time_t seconds;
    uint16_t milliseconds;
    Machine::Get().clock().Now(seconds, milliseconds);
    return static_cast<int64_t>(seconds) * 1000 + milliseconds;
}

}  // namespace

bool FileSystem::FileId::operator<(const FileId& other) const
{
    return std::tie(device, inode, birthNanoseconds) <
           std::tie(other.device, other.inode, other.birthNanoseconds);
}

bool FileSystem::FileId::operator==(const FileId& other) const
{
    return device == other.device && inode == other.inode && birthNanoseconds == other.birthNanoseconds;
}

bool FileSystem::IdOf(const std::string& hostPath, FileId& id)
{
    struct statx info;
    if (hostPath.empty() || statx(AT_FDCWD, hostPath.c_str(), 0, STATX_INO | STATX_BTIME, &info) != 0) {
        return false;
    }
    id.device = makedev(info.stx_dev_major, info.stx_dev_minor);
    id.inode = info.stx_ino;
    id.birthNanoseconds = (info.stx_mask & STATX_BTIME)
                              ? static_cast<int64_t>(info.stx_btime.tv_sec) * 1000000000 + info.stx_btime.tv_nsec
                              : 0;
    return true;
}

std::string FileSystem::HostPath(const std::string& windowsPath) const
{
    char drive;
    std::vector<std::string> names;
    if (!ParseWindowsPath(windowsPath, drive, names)) {
        return std::string();
    }
    std::string host = m_root + "/" + drive;
    std::error_code ec;
    if (!fs::is_directory(host, ec)) {
        return std::string();  // no such drive
    }
    for (const auto& name : names) {
        host += "/" + ExistingName(host, name);
    }
    return host;
}

std::string FileSystem::LibraryPath(const std::string& windowsPath)
{
    std::string host = HostPath(windowsPath);
    std::error_code ec;
    if (!host.empty() && !fs::exists(host, ec)) {
        int64_t now = NowMilliseconds();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_handedOut[host] = now;
    }
    return host;
}

std::string FileSystem::WriteFile(const std::string& windowsPath, const std::string& content)
{
    char drive;
    std::vector<std::string> names;
    if (ParseWindowsPath(windowsPath, drive, names)) {
        fs::create_directories(m_root + "/" + drive);
    }
    std::string host = HostPath(windowsPath);
    if (host.empty()) {
        throw std::invalid_argument("no place on the simulated laptop for " + windowsPath);
    }
    fs::create_directories(fs::path(host).parent_path());
    std::error_code ec;
    bool created = !fs::exists(host, ec);
    std::ofstream out(host, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    if (created) {
        RecordCreation(host);
    }
    return host;
}

std::string FileSystem::ReadFile(const std::string& windowsPath) const
{
    std::ifstream in(HostPath(windowsPath), std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

bool FileSystem::Exists(const std::string& windowsPath) const
{
    std::error_code ec;
    return fs::exists(HostPath(windowsPath), ec);
}

std::vector<std::string> FileSystem::List(const std::string& windowsFolder) const
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(HostPath(windowsFolder), ec)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

void FileSystem::SetCreationTime(const std::string& windowsPath, std::time_t when)
{
    std::string host = HostPath(windowsPath);
    FileId id;
    if (!IdOf(host, id)) {
        throw std::runtime_error("cannot set the creation time of " + windowsPath);
    }
    Record(host, static_cast<int64_t>(when) * 1000);
}

void FileSystem::RecordCreation(const std::string& hostPath)
{
    Record(hostPath, NowMilliseconds());
}

void FileSystem::Record(const std::string& hostPath, int64_t when)
{
    FileId id;
    if (!IdOf(hostPath, id)) {
        return;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_created[id] = when;
    m_handedOut.erase(hostPath);
}

int64_t FileSystem::CreationTime(const std::string& hostPath)
{
    int64_t now = NowMilliseconds();
    FileId id;
    if (!IdOf(hostPath, id)) {
        return now;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    auto known = m_created.find(id);
    if (known != m_created.end()) {
        return known->second;
    }
    int64_t when = now;
    auto handedOut = m_handedOut.find(hostPath);
    if (handedOut != m_handedOut.end()) {
        when = handedOut->second;
        m_handedOut.erase(handedOut);
    }
    m_created[id] = when;
    return when;
}

size_t FileSystem::OpenDescriptors(const std::string& hostPath) const
{
    FileId target;
    if (!IdOf(hostPath, target)) {
        return 0;
    }
    size_t count = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd", ec)) {
        FileId open;  // statx follows the link to the open file
        if (IdOf(entry.path().string(), open) && open == target) {
            ++count;
        }
    }
    return count;
}

bool FileSystem::DeleteHostFile(const std::string& hostPath)
{
    // A link's name or one of several names goes; the file itself stays known.
    struct stat name;
    FileId id;
    const bool last = lstat(hostPath.c_str(), &name) == 0 && S_ISREG(name.st_mode) && name.st_nlink == 1;
    const bool known = last && IdOf(hostPath, id);
    if (unlink(hostPath.c_str()) != 0) {
        return false;
    }
    if (known) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_created.erase(id);
        auto records = LoadSecurity();
        if (records.erase(id) != 0) {
            SaveSecurity(records);
        }
    }
    return true;
}

namespace {

std::string SecurityFile(const std::string& root)
{
    return root + "/security";
}

}  // namespace

std::map<FileSystem::FileId, Security> FileSystem::LoadSecurity() const
{
    std::map<FileId, Security> records;
    std::ifstream in(SecurityFile(m_root));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        FileId id;
        std::string rest;
        Security security;
        if (fields >> id.device >> id.inode >> id.birthNanoseconds && std::getline(fields, rest) &&
            ParseSecurity(rest, security)) {
            records[id] = security;
        }
    }
    return records;
}

void FileSystem::SaveSecurity(const std::map<FileId, Security>& records) const
{
    std::ofstream out(SecurityFile(m_root), std::ios::trunc);
    for (const auto& [id, security] : records) {
        out << id.device << ' ' << id.inode << ' ' << id.birthNanoseconds << ' ' << SerializeSecurity(security)
            << '\n';
    }
}

bool FileSystem::SetHostSecurity(const std::string& hostPath, const Security& security)
{
    FileId id;
    if (!IdOf(hostPath, id)) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    auto records = LoadSecurity();
    records[id] = security;
    SaveSecurity(records);
    return true;
}

void FileSystem::SetSecurity(const std::string& windowsPath, const Security& security)
{
    if (!SetHostSecurity(HostPath(windowsPath), security)) {
        throw std::runtime_error("cannot set the security of " + windowsPath);
    }
}

std::string FileSystem::Account() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_account;
}

void FileSystem::SetAccount(const std::string& sid)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_account = sid;
}

Security FileSystem::EffectiveSecurity(const std::string& hostPath) const
{
    std::error_code ec;
    const std::string real = fs::weakly_canonical(hostPath, ec).string();
    const std::string root = fs::weakly_canonical(m_root, ec).string();
    return EffectiveOf(real, root);
}

Security FileSystem::EffectiveOf(const std::string& path, const std::string& root) const
{
    const fs::path parent = fs::path(path).parent_path();
    if (parent.string() == root || parent == fs::path(path) || path.rfind(root + "/", 0) != 0) {
        return DriveRootSecurity();  // a drive's root (nothing lies outside the drives)
    }
    Security own;
    FileId id;
    bool stored = false;
    if (IdOf(path, id)) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto records = LoadSecurity();
        auto found = records.find(id);
        if (found != records.end()) {
            own = found->second;
            stored = true;
        }
    }
    if (!stored) {
        own.owner = Account();
    }
    if (own.protectedDacl || !own.hasDacl) {
        return own;
    }
    std::error_code ec;
    const Security folder = EffectiveOf(parent.string(), root);
    for (const Ace& ace : InheritedAces(folder.dacl, fs::is_directory(path, ec), own.owner)) {
        own.dacl.push_back(ace);
    }
    return own;
}

bool FileSystem::Allows(const std::string& hostPath, uint32_t wanted) const
{
    return AccessAllowed(EffectiveSecurity(hostPath), Account(), wanted);
}

namespace {

// The host path of a new name, with its drive and folders in place.
std::string PrepareLinkPath(FileSystem& files, const std::string& link)
{
    char drive;
    std::vector<std::string> names;
    if (!ParseWindowsPath(link, drive, names) || names.empty()) {
        throw std::invalid_argument("no place for a link at " + link);
    }
    fs::create_directories(files.Root() + "/" + drive);
    std::string host = files.HostPath(link);
    fs::create_directories(fs::path(host).parent_path());
    return host;
}

}  // namespace

void FileSystem::PlantJunction(const std::string& link, const std::string& targetFolder)
{
    std::string target = HostPath(targetFolder);
    std::error_code ec;
    if (!fs::is_directory(target, ec)) {
        throw std::invalid_argument("a junction needs an existing folder: " + targetFolder);
    }
    fs::create_directory_symlink(target, PrepareLinkPath(*this, link));
}

void FileSystem::PlantSymbolicLink(const std::string& link, const std::string& target)
{
    fs::create_symlink(HostPath(target), PrepareLinkPath(*this, link));
}

void FileSystem::PlantHardLink(const std::string& link, const std::string& existingFile)
{
    fs::create_hard_link(HostPath(existingFile), PrepareLinkPath(*this, link));
}

void FileSystem::Recreate()
{
    Remove();
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/halvex-sim-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        throw std::runtime_error("cannot create the simulated file-system root");
    }
    m_root = buffer.data();
    m_ownsRoot = true;
    fs::create_directories(m_root + "/C/Windows/System32");
}

void FileSystem::Adopt(const std::string& hostFolder)
{
    Remove();
    m_root = hostFolder;
    m_ownsRoot = false;
    fs::create_directories(m_root + "/C/Windows/System32");
}

void FileSystem::Remove()
{
    if (!m_root.empty() && m_ownsRoot) {
        std::error_code ec;
        fs::remove_all(m_root, ec);
    }
    m_root.clear();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_created.clear();
    m_handedOut.clear();
    m_account = sid::kSystem;
}

}  // namespace sim
