// The binary forms of SIDs, ACLs and self-relative security descriptors, to
// and from the simulated laptop's owners and DACLs.
#pragma once

#include <string>
#include <vector>

#include <windows.h>

#include "sim/file_security.h"

namespace winapi_impl {

// "S-1-5-18" and its binary SID; false for a malformed text.
bool SidBytes(const std::string& text, std::vector<BYTE>& sid);
std::string SidText(const void* sid);
size_t SidLength(const void* sid);

std::vector<BYTE> AclBytes(const std::vector<sim::Ace>& aces);
// False for an entry of another type than allow or deny, or one that overruns the list.
bool AclAces(const ACL* acl, std::vector<sim::Ace>& aces);

// A self-relative descriptor with the owner and/or the DACL of `security`.
std::vector<BYTE> DescriptorBytes(const sim::Security& security, bool withOwner, bool withDacl);
bool DescriptorSecurity(const void* descriptor, sim::Security& security);

// A copy in memory that LocalFree releases.
void* LocalCopy(const std::vector<BYTE>& bytes);

}  // namespace winapi_impl
