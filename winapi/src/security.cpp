#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <windows.h>

#include "handles.h"
#include "security_blob.h"
#include "sim/machine.h"

using sim::Ace;
using sim::Security;

namespace {

sim::FileSystem& Files()
{
    return sim::Machine::Get().fileSystem();
}

// The process token: it answers for the account the laptop's process runs as.
struct Token : winapi_impl::KernelObject {};

const std::map<std::string, std::string>& SidAliases()
{
    static const auto* aliases = new std::map<std::string, std::string>{
        {"SY", sim::sid::kSystem},     {"BA", sim::sid::kAdministrators},      {"BU", sim::sid::kUsers},
        {"AU", sim::sid::kAuthenticatedUsers}, {"WD", sim::sid::kEveryone}, {"CO", sim::sid::kCreatorOwner}};
    return *aliases;
}

bool ParseSddlSid(const std::string& text, std::string& sid)
{
    auto alias = SidAliases().find(text);
    sid = alias != SidAliases().end() ? alias->second : text;
    std::vector<BYTE> bytes;
    return winapi_impl::SidBytes(sid, bytes);
}

// ORs together the values of the two-letter codes `text` is made of; false
// when its length is odd or a code is not in `codes`.
template <typename Value>
bool OrTwoLetterCodes(const std::string& text, const std::map<std::string, Value>& codes, Value& result)
{
    result = 0;
    if (text.size() % 2 != 0) {
        return false;
    }
    for (size_t i = 0; i < text.size(); i += 2) {
        auto code = codes.find(text.substr(i, 2));
        if (code == codes.end()) {
            return false;
        }
        result |= code->second;
    }
    return true;
}

bool ParseSddlRights(const std::string& text, uint32_t& mask)
{
    if (text.rfind("0x", 0) == 0 && text.size() > 2 && text.size() <= 10 &&
        text.find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos) {
        mask = static_cast<uint32_t>(std::strtoul(text.c_str() + 2, nullptr, 16));
        return true;
    }
    static const std::map<std::string, uint32_t> kRights{
        {"FA", 0x001F01FF}, {"FR", 0x00120089},   {"FW", 0x00120116},   {"FX", 0x001200A0},
        {"GA", GENERIC_ALL}, {"GR", GENERIC_READ}, {"GW", GENERIC_WRITE}, {"GX", GENERIC_EXECUTE},
        {"SD", DELETE},      {"RC", READ_CONTROL}, {"WD", WRITE_DAC},     {"WO", WRITE_OWNER}};
    return !text.empty() && OrTwoLetterCodes(text, kRights, mask);
}

bool ParseSddlFlags(const std::string& text, uint8_t& flags)
{
    static const std::map<std::string, uint8_t> kFlags{{"OI", OBJECT_INHERIT_ACE},       {"CI", CONTAINER_INHERIT_ACE},
                                                       {"NP", NO_PROPAGATE_INHERIT_ACE}, {"IO", INHERIT_ONLY_ACE},
                                                       {"ID", INHERITED_ACE}};
    return OrTwoLetterCodes(text, kFlags, flags);
}

// "(A;OICI;FA;;;SY)": type, flags, rights, two empty object types, SID.
bool ParseSddlAce(const std::string& text, Ace& ace)
{
    std::vector<std::string> fields;
    size_t at = 0;
    for (size_t end; (end = text.find(';', at)) != std::string::npos; at = end + 1) {
        fields.push_back(text.substr(at, end - at));
    }
    fields.push_back(text.substr(at));
    if (fields.size() != 6 || (fields[0] != "A" && fields[0] != "D") || !fields[3].empty() || !fields[4].empty()) {
        return false;
    }
    ace.type = fields[0] == "A" ? ACCESS_ALLOWED_ACE_TYPE : ACCESS_DENIED_ACE_TYPE;
    return ParseSddlFlags(fields[1], ace.flags) && ParseSddlRights(fields[2], ace.mask) &&
           ParseSddlSid(fields[5], ace.sid);
}

// "O:<sid>" and "D:<flags>(ace)(ace)..." in that order, each optional.
bool ParseSddl(const std::string& text, Security& security)
{
    security = Security();
    security.hasDacl = false;
    size_t at = 0;
    if (text.rfind("O:", 0) == 0) {
        size_t end = text.find("D:", 2);
        if (!ParseSddlSid(text.substr(2, end == std::string::npos ? std::string::npos : end - 2), security.owner)) {
            return false;
        }
        at = end == std::string::npos ? text.size() : end;
    }
    if (at == text.size()) {
        return true;
    }
    if (text.compare(at, 2, "D:") != 0) {
        return false;
    }
    security.hasDacl = true;
    at += 2;
    while (at < text.size() && text[at] != '(') {
        if (text.compare(at, 1, "P") == 0) {
            security.protectedDacl = true;
            at += 1;
        } else if (text.compare(at, 2, "AI") == 0 || text.compare(at, 2, "AR") == 0) {
            at += 2;
        } else {
            return false;
        }
    }
    while (at < text.size()) {
        size_t end = text.find(')', at);
        Ace ace;
        if (text[at] != '(' || end == std::string::npos || !ParseSddlAce(text.substr(at + 1, end - at - 1), ace)) {
            return false;
        }
        security.dacl.push_back(ace);
        at = end + 1;
    }
    return true;
}

winapi_impl::FileHandle* FileOf(HANDLE handle)
{
    return dynamic_cast<winapi_impl::FileHandle*>(winapi_impl::FromHandle(handle));
}

}  // namespace

BOOL CreateWellKnownSid(WELL_KNOWN_SID_TYPE type, PSID domainSid, PSID sid, DWORD* size)
{
    static const std::map<int, std::string> kKnown{{WinCreatorOwnerSid, sim::sid::kCreatorOwner},
                                                   {WinAuthenticatedUserSid, sim::sid::kAuthenticatedUsers},
                                                   {WinLocalSystemSid, sim::sid::kSystem},
                                                   {WinBuiltinAdministratorsSid, sim::sid::kAdministrators},
                                                   {WinBuiltinUsersSid, sim::sid::kUsers}};
    auto known = kKnown.find(type);
    if (known == kKnown.end() || domainSid != nullptr || size == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<BYTE> bytes;
    winapi_impl::SidBytes(known->second, bytes);
    if (sid == nullptr || *size < bytes.size()) {
        *size = static_cast<DWORD>(bytes.size());
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(sid, bytes.data(), bytes.size());
    *size = static_cast<DWORD>(bytes.size());
    return TRUE;
}

BOOL EqualSid(PSID sid1, PSID sid2)
{
    const size_t length = winapi_impl::SidLength(sid1);
    SetLastError(ERROR_SUCCESS);
    return length == winapi_impl::SidLength(sid2) && std::memcmp(sid1, sid2, length) == 0;
}

BOOL GetAce(PACL acl, DWORD index, LPVOID* ace)
{
    if (acl == nullptr || ace == nullptr || index >= acl->AceCount) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto* at = reinterpret_cast<BYTE*>(acl) + sizeof(ACL);
    for (DWORD i = 0; i < index; ++i) {
        at += reinterpret_cast<ACE_HEADER*>(at)->AceSize;
    }
    *ace = at;
    return TRUE;
}

BOOL GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, LPBOOL present, PACL* dacl, LPBOOL defaulted)
{
    if (descriptor == nullptr || present == nullptr || dacl == nullptr || defaulted == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto* bytes = static_cast<BYTE*>(descriptor);
    WORD control;
    DWORD daclAt;
    std::memcpy(&control, bytes + 2, sizeof(control));
    std::memcpy(&daclAt, bytes + 16, sizeof(daclAt));
    *present = (control & SE_DACL_PRESENT) ? TRUE : FALSE;
    *dacl = *present && daclAt != 0 ? reinterpret_cast<PACL>(bytes + daclAt) : nullptr;
    *defaulted = FALSE;
    return TRUE;
}

BOOL GetSecurityDescriptorControl(PSECURITY_DESCRIPTOR descriptor, PSECURITY_DESCRIPTOR_CONTROL control,
                                  LPDWORD revision)
{
    if (descriptor == nullptr || control == nullptr || revision == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto* bytes = static_cast<const BYTE*>(descriptor);
    *revision = bytes[0];
    std::memcpy(control, bytes + 2, sizeof(*control));
    return TRUE;
}

DWORD GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID* owner, PSID* group,
                      PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor)
{
    auto* file = FileOf(handle);
    if (file == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    const bool wantsOwner = (info & OWNER_SECURITY_INFORMATION) != 0;
    const bool wantsDacl = (info & DACL_SECURITY_INFORMATION) != 0;
    if (type != SE_FILE_OBJECT || (info & ~(OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION)) != 0 ||
        group != nullptr || sacl != nullptr || descriptor == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (!(file->access & (READ_CONTROL | GENERIC_READ | GENERIC_ALL))) {
        return ERROR_ACCESS_DENIED;
    }
    std::vector<BYTE> bytes =
        winapi_impl::DescriptorBytes(Files().EffectiveSecurity(file->hostPath), wantsOwner, wantsDacl);
    auto* copy = static_cast<BYTE*>(winapi_impl::LocalCopy(bytes));
    if (copy == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    DWORD ownerAt;
    DWORD daclAt;
    std::memcpy(&ownerAt, copy + 4, sizeof(ownerAt));
    std::memcpy(&daclAt, copy + 16, sizeof(daclAt));
    if (owner != nullptr) {
        *owner = ownerAt != 0 ? copy + ownerAt : nullptr;
    }
    if (dacl != nullptr) {
        *dacl = daclAt != 0 ? reinterpret_cast<PACL>(copy + daclAt) : nullptr;
    }
    *descriptor = copy;
    return ERROR_SUCCESS;
}

DWORD SetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID owner, PSID group,
                      PACL dacl, PACL sacl)
{
    auto* file = FileOf(handle);
    if (file == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    // Only a new DACL, protected or inheriting, is asked for.
    if (type != SE_FILE_OBJECT || (info & ~(DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION)) != 0 ||
        !(info & DACL_SECURITY_INFORMATION) || owner != nullptr || group != nullptr || sacl != nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (!(file->access & (WRITE_DAC | GENERIC_ALL))) {
        return ERROR_ACCESS_DENIED;
    }
    Security own = Files().EffectiveSecurity(file->hostPath);
    own.hasDacl = dacl != nullptr;
    own.protectedDacl = (info & PROTECTED_DACL_SECURITY_INFORMATION) != 0;
    std::vector<Ace> aces;
    if (dacl != nullptr && !winapi_impl::AclAces(dacl, aces)) {
        return ERROR_INVALID_ACL;
    }
    own.dacl.clear();
    for (Ace ace : aces) {
        if (!(ace.flags & INHERITED_ACE)) {  // inherited entries come from the folder above again
            own.dacl.push_back(ace);
        }
    }
    return Files().SetHostSecurity(file->hostPath, own) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

BOOL ConvertStringSecurityDescriptorToSecurityDescriptorW(LPCWSTR text, DWORD revision,
                                                          PSECURITY_DESCRIPTOR* descriptor, PULONG size)
{
    Security security;
    if (text == nullptr || descriptor == nullptr || revision != SDDL_REVISION_1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!ParseSddl(sim::Narrow(text), security)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<BYTE> bytes = winapi_impl::DescriptorBytes(security, true, security.hasDacl);
    *descriptor = winapi_impl::LocalCopy(bytes);
    if (*descriptor == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    if (size != nullptr) {
        *size = static_cast<ULONG>(bytes.size());
    }
    return TRUE;
}

HLOCAL LocalFree(HLOCAL memory)
{
    std::free(memory);
    return nullptr;
}

BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token)
{
    if (process != GetCurrentProcess() || token == nullptr || access != TOKEN_QUERY) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *token = new Token();
    return TRUE;
}

BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS type, LPVOID information, DWORD length,
                         PDWORD returnLength)
{
    if (dynamic_cast<Token*>(winapi_impl::FromHandle(token)) == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (type != TokenUser || returnLength == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<BYTE> sid;
    winapi_impl::SidBytes(Files().Account(), sid);
    *returnLength = static_cast<DWORD>(sizeof(TOKEN_USER) + sid.size());
    if (information == nullptr || length < *returnLength) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* user = static_cast<TOKEN_USER*>(information);
    user->User.Attributes = 0;
    user->User.Sid = static_cast<BYTE*>(information) + sizeof(TOKEN_USER);
    std::memcpy(user->User.Sid, sid.data(), sid.size());
    return TRUE;
}
