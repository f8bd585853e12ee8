// Security identifiers, access-control lists and descriptors in their
// binary form, as a driver builds a DACL by hand.
#pragma once

#include "hostkernel/nt_types.h"

struct SID_IDENTIFIER_AUTHORITY {
  UCHAR Value[6];
};
struct SID {
  UCHAR Revision;
  UCHAR SubAuthorityCount;
  SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
  ULONG SubAuthority[1];
};
using PSID = PVOID;

#define ACL_REVISION 2
struct ACL {
  UCHAR AclRevision;
  UCHAR Sbz1;
  USHORT AclSize;
  USHORT AceCount;
  USHORT Sbz2;
};
using PACL = ACL*;

#define ACCESS_ALLOWED_ACE_TYPE 0x0
#define ACCESS_DENIED_ACE_TYPE 0x1
#define INHERIT_ONLY_ACE 0x8
struct ACE_HEADER {
  UCHAR AceType;
  UCHAR AceFlags;
  USHORT AceSize;
};
struct ACCESS_ALLOWED_ACE {
  ACE_HEADER Header;
  ACCESS_MASK Mask;
  ULONG SidStart;  // the SID begins here
};

#define SECURITY_DESCRIPTOR_REVISION 1
#define SE_DACL_PRESENT 0x0004
#define SE_DACL_DEFAULTED 0x0008
struct SECURITY_DESCRIPTOR {
  UCHAR Revision;
  UCHAR Sbz1;
  USHORT Control;
  PSID Owner;
  PSID Group;
  PACL Sacl;
  PACL Dacl;
};
using PSECURITY_DESCRIPTOR = PVOID;

#define FILE_ALL_ACCESS 0x001F01FF

// The kernel's well-known SIDs; only those a driver here reads.
struct SE_EXPORTS {
  PSID SeLocalSystemSid;
  PSID SeAliasAdminsSid;
};
extern SE_EXPORTS* SeExports;

ULONG RtlLengthSid(PSID sid);
NTSTATUS RtlCreateAcl(PACL acl, ULONG length, ULONG revision);
NTSTATUS RtlAddAccessAllowedAce(PACL acl, ULONG revision, ACCESS_MASK mask, PSID sid);
NTSTATUS RtlCreateSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, ULONG revision);
NTSTATUS RtlSetDaclSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, BOOLEAN present, PACL dacl,
                                      BOOLEAN defaulted);
