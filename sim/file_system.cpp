#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "sim/machine.h"

namespace fs = std::filesystem;

namespace sim {

// "C:\\ProgramData\\x" -> "<root>/C/ProgramData/x". Forward slashes are taken as
// separators too; a path without drive lands under the root itself.
std::string FileSystem::HostPath(const std::string& windowsPath) const
{
    std::string path = windowsPath;
    std::string host = m_root;
    size_t start = 0;
    if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) {
        host += "/";
        host += static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
        start = 2;
    }
    for (size_t i = start; i < path.size(); ++i) {
        char c = path[i];
        if (c == '\\' || c == '/') {
            if (host.empty() || host.back() != '/') {
                host += '/';
            }
        } else {
            if (!host.empty() && host.back() != '/' && i == start) {
                host += '/';
            }
            host += c;
        }
    }
    return host;
}

std::string FileSystem::WriteFile(const std::string& windowsPath, const std::string& content)
{
    std::string host = HostPath(windowsPath);
    fs::create_directories(fs::path(host).parent_path());
    std::ofstream out(host, std::ios::binary | std::ios::trunc);
    out << content;
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

void FileSystem::SetCreationTime(const std::string& windowsPath, std::time_t when)
{
    struct timeval times[2] = {{when, 0}, {when, 0}};
    if (utimes(HostPath(windowsPath).c_str(), times) != 0) {
        throw std::runtime_error("cannot set the time of " + windowsPath);
    }
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
    fs::create_directories(m_root + "/C/Windows");
}

void FileSystem::Remove()
{
    if (!m_root.empty()) {
        std::error_code ec;
        fs::remove_all(m_root, ec);
        m_root.clear();
    }
}

}  // namespace sim
