#include "run_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace halvex_sim {
namespace {

namespace fs = std::filesystem;

constexpr char kPrefix[] = "halvex-sim-run-";
constexpr char kInUseFile[] = ".in-use";
constexpr std::chrono::hours kKeptFor{24};

std::string TempFolder()
{
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
}

// An exclusive lock on the folder's in-use file; -1 when another run holds it.
int LockInUse(const fs::path& folder)
{
    const int fd = open((folder / kInUseFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

RunFolder::RunFolder()
{
    const std::string parent = TempFolder();
    RemoveStaleRunFolders(parent, kKeptFor);
    std::string pattern = parent + "/" + kPrefix + "XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create the run's folder under " + parent);
    }
    m_path = pattern;
    m_inUse = LockInUse(m_path);
    if (m_inUse < 0) {
        throw std::runtime_error("cannot mark " + m_path + " in use");
    }
}

RunFolder::~RunFolder()
{
    close(m_inUse);
}

void RemoveStaleRunFolders(const std::string& parent, std::chrono::hours age)
{
    std::error_code error;
    const auto oldest = fs::file_time_type::clock::now() - age;
    for (const fs::directory_entry& entry : fs::directory_iterator(parent, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(kPrefix, 0) != 0 || !entry.is_directory(error) || entry.is_symlink(error) ||
            fs::last_write_time(entry.path(), error) > oldest || error) {
            continue;
        }
        const int inUse = LockInUse(entry.path());
        if (inUse < 0) {
            continue;  // a run still holds it, or it is not ours to lock
        }
        fs::remove_all(entry.path(), error);
        close(inUse);
    }
}

}  // namespace halvex_sim
