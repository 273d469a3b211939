// The simulated laptop's drives: Windows paths ("C:\\ProgramData\\...") mapped
// onto a host folder of its own, with the Windows rules the service relies on.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sim/file_security.h"

namespace sim {

// Names are found without regard to case at every level; a new name keeps the
// case it was given. '/' separates like '\'; ".." stops at the drive root. A
// rooted path without a drive is on C:, a relative one is taken from
// C:\Windows\System32 (a service's working folder), "D:x" from the root of D:.
// Each drive is a folder under the root; C: always exists, another drive once
// a test writes a file on it. UNC and device paths and paths on a missing
// drive have no place on the laptop: HostPath answers "" for them, which every
// host call refuses.
//
// A file's creation time is the simulated wall time at which it was created;
// writing does not move it.
//
// Junctions and symbolic links are host symbolic links (a path through one
// resolves to its target), hard links are host hard links. Owners and DACLs
// are kept beside the drives, keyed by the host's file identity, so they
// survive into later processes that adopt the same root; an object without a
// stored descriptor belongs to the process's account and inherits all.
class FileSystem {
public:
    const std::string& Root() const { return m_root; }
    std::string HostPath(const std::string& windowsPath) const;
    // HostPath for a library that opens the file itself (spdlog, tinyxml2): a
    // file that does not exist yet and that the library creates gets the
    // creation time of this moment.
    std::string LibraryPath(const std::string& windowsPath);

    // Writes a file (creating its drive and folders) and returns its host path.
    std::string WriteFile(const std::string& windowsPath, const std::string& content);
    std::string ReadFile(const std::string& windowsPath) const;
    bool Exists(const std::string& windowsPath) const;
    // Names of the entries of a folder, sorted.
    std::vector<std::string> List(const std::string& windowsFolder) const;
    // Ages a file: the creation time that the file search reports.
    void SetCreationTime(const std::string& windowsPath, std::time_t when);

    // Plants a link at `link` (its folder is created): a junction to an existing
    // folder, a symbolic link to anything (it may dangle), or a second name of
    // an existing file.
    void PlantJunction(const std::string& link, const std::string& targetFolder);
    void PlantSymbolicLink(const std::string& link, const std::string& target);
    void PlantHardLink(const std::string& link, const std::string& existingFile);
    // Gives an existing object its own owner and DACL entries.
    void SetSecurity(const std::string& windowsPath, const Security& security);
    // The account the process runs as (SYSTEM unless a test says otherwise).
    std::string Account() const;
    void SetAccount(const std::string& sid);

    // For the Win32 calls, on host paths of existing files and folders.
    // The owner and the whole DACL, inherited entries after the object's own.
    Security EffectiveSecurity(const std::string& hostPath) const;
    // Stores the object's own descriptor; false when the object does not exist.
    bool SetHostSecurity(const std::string& hostPath, const Security& security);
    // Whether the process's account is granted all of `wanted` on the object.
    bool Allows(const std::string& hostPath, uint32_t wanted) const;
    // Milliseconds since 1970 of the creation; a file created behind the
    // simulator's back counts as created when it is first seen.
    int64_t CreationTime(const std::string& hostPath);
    void RecordCreation(const std::string& hostPath);
    // How many descriptors of this process hold the file open.
    size_t OpenDescriptors(const std::string& hostPath) const;
    // Unlinks a name; the last name of a file takes its creation time and
    // descriptor with it. False (errno set) on failure.
    bool DeleteHostFile(const std::string& hostPath);

    void Recreate();  // a new, empty root folder
    // Takes an existing host folder as the root, with what it holds (the laptop
    // of an earlier process of the same run); Remove leaves it in place.
    void Adopt(const std::string& hostFolder);
    void Remove();

private:
    // A host file as the host names it: device, inode and, where the host keeps
    // one, birth time, so that a reused inode is another file.
    struct FileId {
        uint64_t device = 0;
        uint64_t inode = 0;
        int64_t birthNanoseconds = 0;
        bool operator<(const FileId& other) const;
        bool operator==(const FileId& other) const;
    };
    static bool IdOf(const std::string& hostPath, FileId& id);
    void Record(const std::string& hostPath, int64_t when);
    // Descriptors stored beside the drives, read and written whole under m_mutex.
    std::map<FileId, Security> LoadSecurity() const;
    void SaveSecurity(const std::map<FileId, Security>& records) const;
    Security EffectiveOf(const std::string& canonicalPath, const std::string& canonicalRoot) const;

    std::string m_root;
    bool m_ownsRoot = false;  // a folder of our own, removed with the laptop
    std::string m_account = sid::kSystem;
    mutable std::mutex m_mutex;                       // guards the two maps, the account and the stored descriptors
    std::map<FileId, int64_t> m_created;              // creation time of each file seen
    std::map<std::string, int64_t> m_handedOut;       // LibraryPath of files not yet created
};

}  // namespace sim
