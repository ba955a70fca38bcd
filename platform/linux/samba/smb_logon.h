/* An SMB logon to a machine, held until closed: the session, the IPC$ share and the server
 * service's pipe (srvsvc, MS-SRVS), through Samba's libdcerpc on the asynchronous path every
 * connection takes (samba_pipe.h), so that a silent server holds only its own caller. Plain C
 * with an opaque handle, so that C++ code needs none of Samba's headers. */
#pragma once

#include <stdbool.h>
#include <stdint.h>

#include "platform/linux/samba/samba_calls.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct smb_logon smb_logon;

/* Logs on to the machine as options say and opens its srvsvc pipe, which needs a logged-on
 * session; then, when share is not NULL, asks the server for that share (NetShareGetInfo).
 * 0 and the open *out, or a Win32 error code: ERROR_SEM_TIMEOUT when the server did not answer
 * within options->connect_timeout_ms, ERROR_BAD_NETPATH when it could not be reached,
 * ERROR_BAD_NET_NAME when it has no such share, else the refusal's own code. */
uint32_t smb_logon_open(const struct samba_connect_options *options, const char *share, smb_logon **out);

/* Asks the server for share (NetShareGetInfo) over the logon's pipe, the exchange bounded by
 * timeout_seconds: 0, ERROR_BAD_NET_NAME when it has no such share, else the exchange's failure or
 * the refusal's own code. */
uint32_t smb_logon_ask_for_share(smb_logon *logon, const char *share, unsigned timeout_seconds);

/* Whether an exchange of the logon failed, so that it is not to be used again. */
bool smb_logon_failed(const smb_logon *logon);

/* Logs off: ends the connection and frees the logon. */
void smb_logon_close(smb_logon *logon);

#ifdef __cplusplus
}
#endif
