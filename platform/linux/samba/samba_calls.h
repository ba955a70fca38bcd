/* One caller at a time in Samba's client libraries, and the connections made through them. Plain
 * C without Samba's headers, for the C shims and C++ alike (the shims' own part, with Samba's
 * types, is samba_pipe.h). */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Samba's client libraries keep a call's scratch state once for the whole process: whoever calls
 * into them does so between these two, from any thread. A connection made by samba_pipe_open
 * lets go between them while its own event loop waits on the network (samba_calls.c). */
void samba_calls_enter(void);
void samba_calls_leave(void);

enum samba_logon {
    SAMBA_LOGON_PASSWORD,     /* user and password, NTLMSSP */
    SAMBA_LOGON_OWN_TICKET,   /* the user's Kerberos ticket where there is one, else anonymous */
    SAMBA_LOGON_TICKET_CACHE, /* Kerberos only, with the tickets of the cache named by ccache */
};

/* A connection to a named pipe of a machine over SMB. */
struct samba_connect_options {
    const char *server;      /* the address (IPv4 or IPv6) to connect to */
    const char *target_name; /* the machine's name, for Kerberos */
    enum samba_logon logon;
    const char *user; /* "DOMAIN\user", "user@dns.domain" or "user" */
    const char *password;
    const char *ccache;            /* SAMBA_LOGON_TICKET_CACHE: "FILE:/path" */
    unsigned short port;           /* SMB port; 0 for 445 */
    unsigned connect_timeout_ms;   /* bounds the whole connection: logon, pipe, bind */
    unsigned call_timeout_seconds; /* bounds each call once connected */
};

/* The Win32 error for an NTSTATUS, as Windows maps it. */
uint32_t samba_ntstatus_to_win32(uint32_t ntstatus);

#ifdef __cplusplus
}
#endif
