/* A client of a machine's Remote Registry (MS-RRP, the winreg pipe over SMB) for its performance
 * data: OpenHKPD, BaseRegQueryValue and BaseRegCloseKey, through Samba's client libraries.
 * Plain C with an opaque handle, so that C++ code needs none of Samba's headers. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct winreg_client winreg_client;

enum winreg_logon {
    WINREG_LOGON_PASSWORD,    /* user and password, NTLMSSP */
    WINREG_LOGON_OWN_TICKET,  /* the user's Kerberos ticket where there is one, else anonymous */
    WINREG_LOGON_TICKET_CACHE, /* Kerberos only, with the tickets of the cache named by ccache */
};

struct winreg_connect_options {
    const char *server;      /* the address (IPv4 or IPv6) to connect to */
    const char *target_name; /* the machine's name, for Kerberos */
    enum winreg_logon logon;
    const char *user;        /* "DOMAIN\user", "user@dns.domain" or "user" */
    const char *password;
    const char *ccache;      /* WINREG_LOGON_TICKET_CACHE: "FILE:/path" */
    unsigned short port;          /* SMB port; 0 for 445 */
    unsigned connect_timeout_ms;      /* bounds the whole connection: logon, pipe, bind, key */
    unsigned call_timeout_seconds;    /* bounds each call once connected */
};

/* Connects to the machine's winreg pipe and opens HKEY_PERFORMANCE_DATA. Returns the NTSTATUS
 * of the connection (0 when connected); *werror receives OpenHKPD's result, and *client the
 * open client when both are 0. */
uint32_t winreg_client_open(const struct winreg_connect_options *options, winreg_client **client, uint32_t *werror);

/* BaseRegQueryValue of name (ASCII) under HKEY_PERFORMANCE_DATA with a buffer of buffer_size
 * bytes: the bytes that came (at most buffer_size) go to data, their count to *length, the value
 * type to *type and the call's result to *werror; *needed receives the size the server says it
 * needs (0 when it says none). Returns the NTSTATUS of the exchange. */
uint32_t winreg_client_query_value(winreg_client *client, const char *name, uint8_t *data, uint32_t buffer_size,
                                   uint32_t *length, uint32_t *type, uint32_t *needed, uint32_t *werror);

/* Closes the key (BaseRegCloseKey) and the connection, and frees the client. */
void winreg_client_close(winreg_client *client);

/* The Win32 error for an NTSTATUS, as Windows maps it. */
uint32_t winreg_ntstatus_to_win32(uint32_t ntstatus);

#ifdef __cplusplus
}
#endif
