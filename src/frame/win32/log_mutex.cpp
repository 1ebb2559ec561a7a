#include "frame/win32/log_mutex.h"

#include "frame/log_line.h"
#include "platform/win32/text_casts.h"

namespace {
// An access list holding one access-allowed entry: the list header plus the
// entry without the first word of its SID, which GetLengthSid already counts.
constexpr DWORD kAclWithOneAceBytes = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD);
static_assert(kAclWithOneAceBytes == 16);
}  // namespace

UniqueMutex OpenLogMutex() noexcept {
  SID_IDENTIFIER_AUTHORITY worldAuthority = SECURITY_WORLD_SID_AUTHORITY;
  UniqueSid everyone;
  if (!AllocateAndInitializeSid(&worldAuthority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, everyone.put())) {
    return {};
  }

  SECURITY_DESCRIPTOR descriptor{};
  if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION)) return {};

  const DWORD aclBytes = GetLengthSid(everyone.get()) + kAclWithOneAceBytes;
  UniqueGlobal aclMemory(GlobalAlloc(GPTR, aclBytes));
  if (!aclMemory) return {};
  auto* acl = static_cast<ACL*>(aclMemory.get());
  if (!InitializeAcl(acl, aclBytes, ACL_REVISION)) return {};
  if (!AddAccessAllowedAce(acl, ACL_REVISION, kLogMutexAccess, everyone.get())) return {};
  if (!SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE)) return {};

  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = &descriptor;
  attributes.bInheritHandle = FALSE;
  // The descriptor is copied into the object: the SID and the list may go afterwards.
  return UniqueMutex(CreateMutexW(&attributes, FALSE, AsWide(kLogMutexName.data())));
}
