#include "sim/file_security.h"

#include <algorithm>
#include <sstream>

namespace sim {

namespace {

constexpr uint32_t kGenericRead = 0x80000000u;
constexpr uint32_t kGenericWrite = 0x40000000u;
constexpr uint32_t kGenericExecute = 0x20000000u;
constexpr uint32_t kGenericAll = 0x10000000u;

// The groups in the account's token: SYSTEM is a member of Administrators,
// every other account of Users.
std::vector<std::string> TokenSids(const std::string& account)
{
    return {account, account == sid::kSystem ? sid::kAdministrators : sid::kUsers, sid::kEveryone,
            sid::kAuthenticatedUsers};
}

}  // namespace

bool Ace::operator==(const Ace& other) const
{
    return type == other.type && flags == other.flags && mask == other.mask && sid == other.sid;
}

Security DriveRootSecurity()
{
    using namespace acl;
    Security root;
    root.owner = sid::kSystem;
    root.protectedDacl = true;
    root.dacl = {{kAllow, kObjectInherit | kContainerInherit, kFullControl, sid::kSystem},
                 {kAllow, kObjectInherit | kContainerInherit, kFullControl, sid::kAdministrators},
                 {kAllow, kObjectInherit | kContainerInherit | kInheritOnly, kGenericAll, sid::kCreatorOwner},
                 {kAllow, kObjectInherit | kContainerInherit, kReadExecute, sid::kUsers},
                 {kAllow, kContainerInherit, kCreate, sid::kUsers}};
    return root;
}

std::vector<Ace> InheritedAces(const std::vector<Ace>& folderDacl, bool childIsFolder, const std::string& owner)
{
    using namespace acl;
    std::vector<Ace> inherited;
    for (const Ace& ace : folderDacl) {
        const bool toFiles = (ace.flags & kObjectInherit) != 0;
        const bool toFolders = (ace.flags & kContainerInherit) != 0;
        const bool propagates = (ace.flags & kNoPropagate) == 0;
        const bool creator = ace.sid == sid::kCreatorOwner;
        if (!childIsFolder) {
            if (toFiles) {
                inherited.push_back({ace.type, kInherited, ace.mask, creator ? owner : ace.sid});
            }
            continue;
        }
        if (toFolders) {
            if (creator) {
                // The creator's entry applies to the new owner, and passes on as it came.
                inherited.push_back({ace.type, kInherited, ace.mask, owner});
                if (propagates) {
                    inherited.push_back({ace.type, static_cast<uint8_t>(ace.flags | kInheritOnly | kInherited),
                                         ace.mask, ace.sid});
                }
            } else if (propagates) {
                inherited.push_back(
                    {ace.type, static_cast<uint8_t>((ace.flags & ~kInheritOnly) | kInherited), ace.mask, ace.sid});
            } else {
                inherited.push_back({ace.type, kInherited, ace.mask, ace.sid});
            }
        } else if (toFiles && propagates) {
            // Only for files: carried through the folder without applying to it.
            inherited.push_back({ace.type, static_cast<uint8_t>(ace.flags | kInheritOnly | kInherited), ace.mask,
                                 ace.sid});
        }
    }
    return inherited;
}

uint32_t MapGenericFileRights(uint32_t mask)
{
    uint32_t mapped = mask & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll);
    if (mask & kGenericRead) {
        mapped |= 0x00120089;
    }
    if (mask & kGenericWrite) {
        mapped |= 0x00120116;
    }
    if (mask & kGenericExecute) {
        mapped |= 0x001200A0;
    }
    if (mask & kGenericAll) {
        mapped |= acl::kFullControl;
    }
    return mapped;
}

bool AccessAllowed(const Security& effective, const std::string& account, uint32_t wanted)
{
    wanted = MapGenericFileRights(wanted);
    if (!effective.hasDacl) {
        return true;
    }
    const std::vector<std::string> token = TokenSids(account);
    auto holds = [&token](const std::string& sid) { return std::find(token.begin(), token.end(), sid) != token.end(); };
    uint32_t granted = 0;
    if (holds(effective.owner)) {
        granted |= acl::kReadControl | acl::kWriteDac;
    }
    for (const Ace& ace : effective.dacl) {
        if ((granted & wanted) == wanted) {
            break;
        }
        if ((ace.flags & acl::kInheritOnly) || !holds(ace.sid)) {
            continue;
        }
        const uint32_t rights = MapGenericFileRights(ace.mask);
        if (ace.type == acl::kDeny) {
            if (rights & wanted & ~granted) {
                return false;
            }
        } else if (ace.type == acl::kAllow) {
            granted |= rights;
        }
    }
    return (granted & wanted) == wanted;
}

std::string SerializeSecurity(const Security& security)
{
    std::ostringstream out;
    out << security.owner << ' ' << (security.hasDacl ? 1 : 0) << ' ' << (security.protectedDacl ? 1 : 0) << ' '
        << security.dacl.size();
    for (const Ace& ace : security.dacl) {
        out << ' ' << static_cast<unsigned>(ace.type) << ' ' << static_cast<unsigned>(ace.flags) << ' ' << ace.mask
            << ' ' << ace.sid;
    }
    return out.str();
}

bool ParseSecurity(const std::string& text, Security& security)
{
    std::istringstream in(text);
    size_t count = 0;
    int hasDacl = 0;
    int protectedDacl = 0;
    if (!(in >> security.owner >> hasDacl >> protectedDacl >> count)) {
        return false;
    }
    security.hasDacl = hasDacl != 0;
    security.protectedDacl = protectedDacl != 0;
    security.dacl.clear();
    for (size_t i = 0; i < count; ++i) {
        unsigned type = 0;
        unsigned flags = 0;
        Ace ace;
        if (!(in >> type >> flags >> ace.mask >> ace.sid)) {
            return false;
        }
        ace.type = static_cast<uint8_t>(type);
        ace.flags = static_cast<uint8_t>(flags);
        security.dacl.push_back(ace);
    }
    return true;
}

}  // namespace sim
