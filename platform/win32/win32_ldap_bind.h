// The Negotiate bind every LDAP read of the Windows services makes.
#pragma once

#include "platform/win32/win32_include.h"

#include <winldap.h>

// A Negotiate bind (Kerberos, else NTLM) as user, "DOMAIN\name" going as its two parts and any
// other name (name@domain) as it is, with password; without a user, as this logon.
ULONG NegotiateBind(LDAP* ld, const CString& user, const CString& password);
