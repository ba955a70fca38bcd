// A keytab written for a test: one AES-256 key of fixed bytes for principal, whichever KDC knows it.
#pragma once

#include <krb5.h>

#include <string>

inline bool WriteTestKeytab(const std::string& path, const std::string& principal)
{
    krb5_context context = nullptr;
    if (krb5_init_context(&context) != 0)
        return false;
    krb5_keytab keytab = nullptr;
    krb5_keytab_entry entry{};
    unsigned char key[32];
    for (unsigned i = 0; i < sizeof key; ++i)
        key[i] = static_cast<unsigned char>(0x5a ^ (i * 7));
    bool ok = krb5_kt_resolve(context, ("WRFILE:" + path).c_str(), &keytab) == 0 &&
              krb5_parse_name(context, principal.c_str(), &entry.principal) == 0;
    if (ok) {
        entry.vno = 1;
        entry.key.enctype = ENCTYPE_AES256_CTS_HMAC_SHA1_96;
        entry.key.length = sizeof key;
        entry.key.contents = key;
        ok = krb5_kt_add_entry(context, keytab, &entry) == 0;
    }
    if (entry.principal != nullptr)
        krb5_free_principal(context, entry.principal);
    if (keytab != nullptr)
        krb5_kt_close(context, keytab);
    krb5_free_context(context);
    return ok;
}
