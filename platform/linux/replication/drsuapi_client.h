/* A client of a domain controller's replication interface (DRSUAPI over TCP, sealed) for what it
 * says of its own replication: DsBind, DsReplicaGetInfo (its inbound neighbours, its pending
 * operations) and DsUnbind, through Samba's client libraries. Plain C with an opaque handle, so
 * that C++ code needs none of Samba's headers. */
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/linux/samba/samba_calls.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct drsuapi_client drsuapi_client;

/* One inbound neighbour as the controller gave it; the texts (UTF-8) live until the callback
 * returns. Times are Windows times (100 ns since 1601), 0 for never. */
struct drsuapi_neighbor {
    const char *naming_context_dn;
    const char *source_dsa_dn;
    const char *source_dsa_address;
    char source_dsa_guid[37]; /* lower case, with dashes */
    uint64_t last_success;
    uint64_t last_attempt;
    uint32_t result_last_attempt; /* a Win32 code */
    uint32_t consecutive_failures;
};
typedef void (*drsuapi_neighbor_fn)(void *context, const struct drsuapi_neighbor *neighbor);

/* Connects (the endpoint mapper, then the interface with packet privacy) and binds. Returns the
 * NTSTATUS of the connection (0 when connected); *werror receives DsBind's result, and *client
 * the bound client when both are 0. */
uint32_t drsuapi_client_open(const struct samba_connect_options *options, drsuapi_client **client, uint32_t *werror);

/* DsReplicaGetInfo of the neighbours: each one goes to fn. Returns the NTSTATUS of the exchange;
 * *werror receives the call's result. */
uint32_t drsuapi_client_neighbors(drsuapi_client *client, drsuapi_neighbor_fn fn, void *context, uint32_t *werror);

/* DsReplicaGetInfo of the pending operations: their number in *count. */
uint32_t drsuapi_client_pending_operations(drsuapi_client *client, uint32_t *count, uint32_t *werror);

/* The answers of DsReplicaGetInfo as bytes, read as the two calls above read them (a controller's
 * answer is outside input): an NTSTATUS, NT_STATUS_RPC_BAD_STUB_DATA's for an answer that is not
 * one; the neighbours go to fn only when the whole answer was read and its result is 0. */
uint32_t drsuapi_parse_neighbors(const uint8_t *answer, size_t length, drsuapi_neighbor_fn fn, void *context,
                                 uint32_t *werror);
uint32_t drsuapi_parse_pending_operations(const uint8_t *answer, size_t length, uint32_t *count, uint32_t *werror);

/* Whether an exchange on the client failed: it is not to be used again. */
int drsuapi_client_failed(const drsuapi_client *client);

/* Unbinds when the connection still works, closes it and frees the client. */
void drsuapi_client_close(drsuapi_client *client);

#ifdef __cplusplus
}
#endif
