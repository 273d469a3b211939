// Owners and DACLs of the simulated laptop's files and folders, as far as the
// service asks: allow and deny entries, inheritance from the folder above and
// the access check of the process's own account.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

namespace sid {
constexpr const char* kSystem = "S-1-5-18";
constexpr const char* kAdministrators = "S-1-5-32-544";
constexpr const char* kUsers = "S-1-5-32-545";
constexpr const char* kAuthenticatedUsers = "S-1-5-11";
constexpr const char* kEveryone = "S-1-1-0";
constexpr const char* kCreatorOwner = "S-1-3-0";
}  // namespace sid

// Entry types, entry flags and rights with their Windows values.
namespace acl {
constexpr uint8_t kAllow = 0;
constexpr uint8_t kDeny = 1;
constexpr uint8_t kObjectInherit = 0x01;
constexpr uint8_t kContainerInherit = 0x02;
constexpr uint8_t kNoPropagate = 0x04;
constexpr uint8_t kInheritOnly = 0x08;
constexpr uint8_t kInherited = 0x10;
constexpr uint32_t kAddFile = 0x0002;          // on a file: write data
constexpr uint32_t kAddSubfolder = 0x0004;     // on a file: append data
constexpr uint32_t kDeleteChild = 0x0040;
constexpr uint32_t kDelete = 0x00010000;
constexpr uint32_t kReadControl = 0x00020000;
constexpr uint32_t kWriteDac = 0x00040000;
constexpr uint32_t kFullControl = 0x001F01FF;
constexpr uint32_t kReadExecute = 0x001200A9;
constexpr uint32_t kCreate = 0x00000116;       // write data, append data, write EA and attributes
}  // namespace acl

struct Ace {
    uint8_t type = acl::kAllow;
    uint8_t flags = 0;
    uint32_t mask = 0;
    std::string sid;  // "S-1-5-18"
    bool operator==(const Ace& other) const;
};

struct Security {
    std::string owner;
    bool hasDacl = true;          // false: a null DACL, which grants everyone everything
    bool protectedDacl = false;   // true: nothing inherited from the folder above
    std::vector<Ace> dacl;        // stored: the object's own entries; effective: inherited ones follow
};

// What a drive's root grants: SYSTEM and Administrators everything, users read
// and the right to create files and folders in every folder below (as on a
// system drive's data folders), creators everything on what they create.
Security DriveRootSecurity();

// The entries a new object inherits from its folder's effective DACL, for
// `owner` as the object's owner.
std::vector<Ace> InheritedAces(const std::vector<Ace>& folderDacl, bool childIsFolder, const std::string& owner);

// Generic rights mapped to the file rights they stand for.
uint32_t MapGenericFileRights(uint32_t mask);

// Windows' access check of an account against an effective descriptor: deny
// entries before the grants they follow, the owner's implicit read-control and
// write-DAC, inherit-only entries ignored.
bool AccessAllowed(const Security& effective, const std::string& account, uint32_t wanted);

// One line of text per descriptor, and back (false on a malformed line).
std::string SerializeSecurity(const Security& security);
bool ParseSecurity(const std::string& text, Security& security);

}  // namespace sim
