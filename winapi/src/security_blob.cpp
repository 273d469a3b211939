#include "security_blob.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using sim::Ace;
using sim::Security;

namespace winapi_impl {

namespace {

void Append(std::vector<BYTE>& out, const void* data, size_t size)
{
    const auto* bytes = static_cast<const BYTE*>(data);
    out.insert(out.end(), bytes, bytes + size);
}

template <typename T>
void Put(std::vector<BYTE>& out, size_t offset, T value)
{
    std::memcpy(out.data() + offset, &value, sizeof(value));
}

}  // namespace

bool SidBytes(const std::string& text, std::vector<BYTE>& sid)
{
    // "S-1-<authority>-<sub>-<sub>...", up to 15 sub-authorities.
    if (text.rfind("S-1-", 0) != 0) {
        return false;
    }
    std::vector<uint64_t> numbers;
    size_t at = 4;
    while (at <= text.size()) {
        size_t end = text.find('-', at);
        std::string part = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (part.empty() || part.find_first_not_of("0123456789") != std::string::npos || part.size() > 12) {
            return false;
        }
        numbers.push_back(std::strtoull(part.c_str(), nullptr, 10));
        if (end == std::string::npos) {
            break;
        }
        at = end + 1;
    }
    if (numbers.size() < 2 || numbers.size() > 16 || numbers[0] >= (1ULL << 48)) {
        return false;
    }
    sid.assign({1, static_cast<BYTE>(numbers.size() - 1)});
    for (int shift = 40; shift >= 0; shift -= 8) {
        sid.push_back(static_cast<BYTE>(numbers[0] >> shift));  // the authority is big-endian
    }
    for (size_t i = 1; i < numbers.size(); ++i) {
        if (numbers[i] > 0xFFFFFFFFu) {
            return false;
        }
        DWORD sub = static_cast<DWORD>(numbers[i]);
        Append(sid, &sub, sizeof(sub));
    }
    return true;
}

size_t SidLength(const void* sid)
{
    return 8 + 4 * static_cast<size_t>(static_cast<const BYTE*>(sid)[1]);
}

std::string SidText(const void* sid)
{
    const auto* bytes = static_cast<const BYTE*>(sid);
    uint64_t authority = 0;
    for (int i = 2; i < 8; ++i) {
        authority = (authority << 8) | bytes[i];
    }
    std::string text = "S-" + std::to_string(bytes[0]) + "-" + std::to_string(authority);
    for (BYTE i = 0; i < bytes[1]; ++i) {
        DWORD sub;
        std::memcpy(&sub, bytes + 8 + 4 * i, sizeof(sub));
        text += "-" + std::to_string(sub);
    }
    return text;
}

std::vector<BYTE> AclBytes(const std::vector<Ace>& aces)
{
    std::vector<BYTE> acl(sizeof(ACL), 0);
    for (const Ace& ace : aces) {
        std::vector<BYTE> sid;
        SidBytes(ace.sid, sid);
        const WORD size = static_cast<WORD>(sizeof(ACE_HEADER) + sizeof(ACCESS_MASK) + sid.size());
        const ACE_HEADER header{ace.type, ace.flags, size};
        Append(acl, &header, sizeof(header));
        Append(acl, &ace.mask, sizeof(ace.mask));
        Append(acl, sid.data(), sid.size());
    }
    const ACL head{ACL_REVISION, 0, static_cast<WORD>(acl.size()), static_cast<WORD>(aces.size()), 0};
    std::memcpy(acl.data(), &head, sizeof(head));
    return acl;
}

bool AclAces(const ACL* acl, std::vector<Ace>& aces)
{
    aces.clear();
    const auto* bytes = reinterpret_cast<const BYTE*>(acl);
    size_t at = sizeof(ACL);
    for (WORD i = 0; i < acl->AceCount; ++i) {
        ACE_HEADER header;
        if (at + sizeof(header) > acl->AclSize) {
            return false;
        }
        std::memcpy(&header, bytes + at, sizeof(header));
        if ((header.AceType != ACCESS_ALLOWED_ACE_TYPE && header.AceType != ACCESS_DENIED_ACE_TYPE) ||
            header.AceSize < sizeof(header) + sizeof(ACCESS_MASK) + 8 || at + header.AceSize > acl->AclSize) {
            return false;
        }
        Ace ace;
        ace.type = header.AceType;
        ace.flags = header.AceFlags;
        std::memcpy(&ace.mask, bytes + at + sizeof(header), sizeof(ace.mask));
        ace.sid = SidText(bytes + at + sizeof(header) + sizeof(ACCESS_MASK));
        aces.push_back(ace);
        at += header.AceSize;
    }
    return true;
}

std::vector<BYTE> DescriptorBytes(const Security& security, bool withOwner, bool withDacl)
{
    // Self-relative: revision, padding, control, then the offsets of owner,
    // group, SACL and DACL, then the parts.
    std::vector<BYTE> out(20, 0);
    WORD control = SE_SELF_RELATIVE;
    out[0] = SECURITY_DESCRIPTOR_REVISION;
    if (withOwner && !security.owner.empty()) {
        std::vector<BYTE> sid;
        SidBytes(security.owner, sid);
        Put<DWORD>(out, 4, static_cast<DWORD>(out.size()));
        Append(out, sid.data(), sid.size());
    }
    if (withDacl) {
        control |= SE_DACL_PRESENT;
        if (security.protectedDacl) {
            control |= SE_DACL_PROTECTED;
        }
        for (const Ace& ace : security.dacl) {
            if (ace.flags & INHERITED_ACE) {
                control |= SE_DACL_AUTO_INHERITED;
            }
        }
        if (security.hasDacl) {
            std::vector<BYTE> acl = AclBytes(security.dacl);
            Put<DWORD>(out, 16, static_cast<DWORD>(out.size()));
            Append(out, acl.data(), acl.size());
        }
    }
    Put<WORD>(out, 2, control);
    return out;
}

bool DescriptorSecurity(const void* descriptor, Security& security)
{
    // Only the self-relative form is made by this API.
    const auto* bytes = static_cast<const BYTE*>(descriptor);
    WORD control;
    DWORD ownerAt;
    DWORD daclAt;
    std::memcpy(&control, bytes + 2, sizeof(control));
    std::memcpy(&ownerAt, bytes + 4, sizeof(ownerAt));
    std::memcpy(&daclAt, bytes + 16, sizeof(daclAt));
    if (bytes[0] != SECURITY_DESCRIPTOR_REVISION || !(control & SE_SELF_RELATIVE)) {
        return false;
    }
    security = Security();
    if (ownerAt != 0) {
        security.owner = SidText(bytes + ownerAt);
    }
    security.hasDacl = (control & SE_DACL_PRESENT) && daclAt != 0;
    security.protectedDacl = (control & SE_DACL_PROTECTED) != 0;
    return !security.hasDacl || AclAces(reinterpret_cast<const ACL*>(bytes + daclAt), security.dacl);
}

void* LocalCopy(const std::vector<BYTE>& bytes)
{
    void* memory = std::malloc(bytes.size());
    if (memory != nullptr) {
        std::memcpy(memory, bytes.data(), bytes.size());
    }
    return memory;
}

}  // namespace winapi_impl
