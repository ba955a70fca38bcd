/* A client of a machine's Remote Registry (MS-RRP, the winreg pipe over SMB) for its performance
 * data: OpenHKPD, BaseRegQueryValue and BaseRegCloseKey, through Samba's client libraries.
 * Plain C with an opaque handle, so that C++ code needs none of Samba's headers. */
#pragma once

#include <stdint.h>

#include "platform/linux/samba/samba_calls.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct winreg_client winreg_client;

/* Connects to the machine's winreg pipe and opens HKEY_PERFORMANCE_DATA. Returns the NTSTATUS
 * of the connection (0 when connected); *werror receives OpenHKPD's result, and *out the
 * open client when both are 0. */
uint32_t winreg_client_open(const struct samba_connect_options *options, winreg_client **out, uint32_t *werror);

/* BaseRegQueryValue of name (ASCII) under HKEY_PERFORMANCE_DATA with a buffer of buffer_size
 * bytes: the bytes that came (at most buffer_size) go to data, their count to *length, the value
 * type to *type and the call's result to *werror; *needed receives the size the server says it
 * needs (0 when it says none). Returns the NTSTATUS of the exchange. */
uint32_t winreg_client_query_value(winreg_client *client, const char *name, uint8_t *data, uint32_t buffer_size,
                                   uint32_t *length, uint32_t *type, uint32_t *needed, uint32_t *werror);

/* Closes the key (BaseRegCloseKey) and the connection, and frees the client. */
void winreg_client_close(winreg_client *client);

#ifdef __cplusplus
}
#endif
