#include "logging/log_folder_trust.h"

#include <aclapi.h>
#include <sddl.h>

namespace {

// Full control for SYSTEM and Administrators, read and execute for
// authenticated users, inherited by files and folders; nothing from above.
constexpr const wchar_t* kFolderDescriptor = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;AU)";

// Rights that change a folder, what it holds, or who may do so.
constexpr DWORD kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                                FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

using SidBytes = std::vector<BYTE>;

// Memory the security calls hand out, released with LocalFree.
class LocalMemory {
public:
    explicit LocalMemory(void* memory = nullptr) : m_memory(memory) {}
    ~LocalMemory() { LocalFree(m_memory); }
    LocalMemory(const LocalMemory&) = delete;
    LocalMemory& operator=(const LocalMemory&) = delete;

private:
    void* m_memory;
};

struct Accounts {
    SidBytes system;
    SidBytes administrators;
    SidBytes service;        // the account the service runs as
    SidBytes creatorOwner;   // stands for whoever creates an entry: only trusted accounts can
};

bool WellKnown(WELL_KNOWN_SID_TYPE type, SidBytes& sid)
{
    DWORD size = SECURITY_MAX_SID_SIZE;
    sid.assign(size, 0);
    return CreateWellKnownSid(type, nullptr, sid.data(), &size) != FALSE;
}

bool ServiceAccount(SidBytes& sid)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    std::vector<BYTE> buffer(sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE);
    DWORD needed = 0;
    const bool read = GetTokenInformation(token, TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &needed);
    CloseHandle(token);
    if (!read) {
        return false;
    }
    // Copied from where it lies in the buffer to the buffer's end; EqualSid reads only its own length.
    const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
    const auto* start = static_cast<const BYTE*>(user->User.Sid);
    const size_t available = buffer.data() + buffer.size() - start;
    sid.assign(start, start + available);
    return true;
}

bool LoadAccounts(Accounts& accounts)
{
    return WellKnown(WinLocalSystemSid, accounts.system) &&
           WellKnown(WinBuiltinAdministratorsSid, accounts.administrators) &&
           WellKnown(WinCreatorOwnerSid, accounts.creatorOwner) && ServiceAccount(accounts.service);
}

bool Same(PSID sid, SidBytes& known)
{
    return EqualSid(sid, known.data()) != FALSE;
}

bool Trusted(PSID sid, Accounts& accounts)
{
    return Same(sid, accounts.system) || Same(sid, accounts.administrators) || Same(sid, accounts.service);
}

// Why the open folder may not be used, or "" when it may. `repairable` tells
// a folder of earlier versions: owned by SYSTEM or Administrators, its DACL
// all inherited.
std::string Judge(HANDLE folder, Accounts& accounts, bool& repairable)
{
    repairable = false;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(folder, &info)) {
        return "its attributes cannot be read";
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        return "it is a junction or symbolic link";
    }
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return "it is not a folder";
    }
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                        nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
        return "its owner and permissions cannot be read";
    }
    LocalMemory hold(descriptor);
    if (owner == nullptr || !Trusted(owner, accounts)) {
        return "its owner is not SYSTEM, Administrators or the service's account";
    }
    if (dacl == nullptr) {
        return "it has no DACL, which lets everyone change it";
    }
    bool inheritedOnly = true;
    bool othersMayChange = false;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry)) {
            return "its permissions cannot be read";
        }
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        inheritedOnly = inheritedOnly && (header->AceFlags & INHERITED_ACE);
        if (header->AceType == ACCESS_DENIED_ACE_TYPE) {
            continue;  // denying takes nothing from the service
        }
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            othersMayChange = true;  // a kind of grant this check cannot judge
            continue;
        }
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        PSID sid = &allowed->SidStart;
        if ((allowed->Mask & kChangeRights) && !Trusted(sid, accounts) && !Same(sid, accounts.creatorOwner)) {
            othersMayChange = true;
        }
    }
    if (!othersMayChange) {
        return std::string();
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    repairable = inheritedOnly && GetSecurityDescriptorControl(descriptor, &control, &revision) &&
                 !(control & SE_DACL_PROTECTED) && (Same(owner, accounts.system) || Same(owner, accounts.administrators));
    return "others may write, create or delete in it";
}

bool ReplaceDacl(HANDLE folder, PSECURITY_DESCRIPTOR descriptor)
{
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    return GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) && present &&
           SetSecurityInfo(folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                           nullptr, nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

// Checks one folder, repairing one of earlier versions; false with the
// refusal filled in when it is not to be used.
bool TrustFolder(const std::string& path, PSECURITY_DESCRIPTOR descriptor, Accounts& accounts, LogFolderTrust& trust)
{
    HANDLE folder = OpenWithoutFollowing(path, READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS);
    if (folder == INVALID_HANDLE_VALUE) {
        trust.refusal = path + ": it cannot be opened (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    bool repairable = false;
    std::string why = Judge(folder, accounts, repairable);
    if (repairable && ReplaceDacl(folder, descriptor)) {
        why = Judge(folder, accounts, repairable);  // trusted only when the new DACL holds
        if (why.empty()) {
            trust.repaired.push_back(path);
        }
    }
    CloseHandle(folder);
    if (!why.empty()) {
        trust.refusal = path + ": " + why;
        return false;
    }
    return true;
}

// The folders above `folder`, created as before: they are not the service's.
void CreateAncestors(const std::string& folder)
{
    for (size_t i = 0; i < folder.size(); ++i) {
        if (folder[i] == '\\') {
            CreateDirectoryA(folder.substr(0, i + 1).c_str(), nullptr);
        }
    }
}

}  // namespace

HANDLE OpenWithoutFollowing(const std::string& path, DWORD access, DWORD disposition, DWORD flags)
{
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       disposition, FILE_FLAG_OPEN_REPARSE_POINT | flags, nullptr);
}

bool IsPlainFile(const BY_HANDLE_FILE_INFORMATION& info)
{
    return !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
           info.nNumberOfLinks == 1;
}

LogFolderTrust TrustLogFolder(const std::string& logFolder, bool create)
{
    LogFolderTrust trust;
    const size_t cut = logFolder.find_last_of('\\');
    Accounts accounts;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (cut == std::string::npos || cut == 0 || !LoadAccounts(accounts) ||
        !ConvertStringSecurityDescriptorToSecurityDescriptorW(kFolderDescriptor, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
        trust.refusal = logFolder + ": its trust cannot be checked (error " + std::to_string(GetLastError()) + ")";
        return trust;
    }
    LocalMemory hold(descriptor);
    const std::string vendorFolder = logFolder.substr(0, cut);
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor, FALSE};
    if (create) {
        CreateAncestors(vendorFolder);
    }
    for (const std::string& folder : {vendorFolder, logFolder}) {
        if (create) {
            CreateDirectoryA(folder.c_str(), &attributes);  // an existing folder is checked as it is
        }
        if (!TrustFolder(folder, descriptor, accounts, trust)) {
            return trust;
        }
    }
    trust.trusted = true;
    return trust;
}
