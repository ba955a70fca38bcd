/* DsBind, DsReplicaGetInfo and DsUnbind, encoded with libndr's primitives after MS-DRSR (sections
 * 4.1.3, 4.1.13 and 4.1.25) and sent with the binding handle's raw call over the samba room's
 * sealed TCP connection. */
#include "platform/linux/replication/drsuapi_client.h"
#include "platform/linux/samba/samba_pipe.h"

#include <stdio.h>
#include <string.h>

#include <gen_ndr/ndr_misc.h>

enum {
    OPNUM_BIND = 0,
    OPNUM_UNBIND = 1,
    OPNUM_REPLICA_GET_INFO = 19,
    GET_INFO_LEVEL_1 = 1,
    INFO_NEIGHBORS = 0,
    INFO_PENDING_OPS = 5,
    /* DRS_EXTENSIONS_INT (MS-DRSR 5.39): the base, the replication information calls, and
     * what every client since Windows 2000 says of itself. */
    EXTENSION_BASE = 0x00000001,
    EXTENSION_GET_REPL_INFO = 0x00004000,
    EXTENSION_POST_BETA3 = 0x00080000,
    BIND_INFO_28 = 28,
    /* More than any forest has: a longer answer is not believed. */
    MAX_ENTRIES = 100000,
    ANSWER_ROOM = 16 * 1024 * 1024,
};

/* The drsuapi interface (MS-DRSR 2.1): UUID e3514235-4b06-11d1-ab04-00c04fc2dcd2, version 4.0,
 * on the port the endpoint mapper names; "ldap" names the service principal for Kerberos. */
static const char *const drsuapi_endpoint_names[] = { "ncacn_ip_tcp:" };
static const struct ndr_interface_string_array drsuapi_endpoints = { 1, drsuapi_endpoint_names };
static const char *const drsuapi_authservice_names[] = { "ldap" };
static const struct ndr_interface_string_array drsuapi_authservices = { 1, drsuapi_authservice_names };
static const struct ndr_interface_table drsuapi_table = {
    .name = "drsuapi",
    .syntax_id = { { 0xe3514235, 0x4b06, 0x11d1, { 0xab, 0x04 }, { 0x00, 0xc0, 0x4f, 0xc2, 0xdc, 0xd2 } }, 4 },
    .helpstring = "Active Directory Replication",
    .endpoints = &drsuapi_endpoints,
    .authservices = &drsuapi_authservices,
};

/* The GUID a client other than a controller binds with (MS-DRSR 4.1.3). */
static const struct GUID client_bind_guid = {
    0xe24d201a, 0x4fd6, 0x11d1, { 0xa3, 0xda }, { 0x00, 0x00, 0xf8, 0x75, 0xae, 0x0d }
};

struct drsuapi_client {
    struct samba_pipe *pipe;
    struct policy_handle bind;
};

#define PUSHED(call) NDR_ERR_CODE_IS_SUCCESS(call)
#define PULLED(call) NDR_ERR_CODE_IS_SUCCESS(call)

static uint32_t bind_locked(const struct samba_connect_options *options, drsuapi_client **out, uint32_t *werror)
{
    *out = NULL;
    *werror = 0;
    struct samba_pipe *pipe = NULL;
    NTSTATUS status = samba_pipe_open_tcp(options, &drsuapi_table, &pipe);
    if (!NT_STATUS_IS_OK(status))
        return NT_STATUS_V(status);
    struct drsuapi_client *client = talloc_zero(pipe->memory, struct drsuapi_client);
    TALLOC_CTX *scratch = talloc_new(pipe->memory);
    struct ndr_push *request = scratch != NULL ? ndr_push_init_ctx(scratch) : NULL;
    /* bind_guid, then bind_info: a DRS_EXTENSIONS of 28 bytes (its conformance, its cb, then
     * dwFlags, SiteObjGuid, Pid and dwReplEpoch). */
    const struct GUID no_site = { 0 };
    DATA_BLOB answer = { 0 };
    if (client == NULL || request == NULL || !PUSHED(ndr_push_unique_ptr(request, &client_bind_guid)) ||
        !PUSHED(ndr_push_GUID(request, NDR_SCALARS, &client_bind_guid)) ||
        !PUSHED(ndr_push_unique_ptr(request, request)) ||
        !PUSHED(ndr_push_uint32(request, NDR_SCALARS, BIND_INFO_28)) ||
        !PUSHED(ndr_push_uint32(request, NDR_SCALARS, BIND_INFO_28)) ||
        !PUSHED(
            ndr_push_uint32(request, NDR_SCALARS, EXTENSION_BASE | EXTENSION_GET_REPL_INFO | EXTENSION_POST_BETA3)) ||
        !PUSHED(ndr_push_GUID(request, NDR_SCALARS, &no_site)) || !PUSHED(ndr_push_uint32(request, NDR_SCALARS, 0)) ||
        !PUSHED(ndr_push_uint32(request, NDR_SCALARS, 0)))
        status = NT_STATUS_NO_MEMORY;
    else
        status = samba_pipe_call(pipe, OPNUM_BIND, request, scratch, &answer, 64 * 1024);
    if (NT_STATUS_IS_OK(status)) {
        /* The server's DRS_EXTENSIONS (skipped), the context handle, the result. */
        struct ndr_pull *pull = ndr_pull_init_blob(&answer, scratch);
        uint32_t referent = 0, size = 0, length = 0;
        bool ok = pull != NULL && PULLED(ndr_pull_generic_ptr(pull, &referent));
        if (ok && referent != 0)
            ok = PULLED(ndr_pull_uint32(pull, NDR_SCALARS, &size)) &&
                 PULLED(ndr_pull_uint32(pull, NDR_SCALARS, &length)) && length == size && length <= 10000 &&
                 PULLED(ndr_pull_advance(pull, length));
        ok = ok && PULLED(ndr_pull_policy_handle(pull, NDR_SCALARS, &client->bind)) &&
             PULLED(ndr_pull_uint32(pull, NDR_SCALARS, werror));
        if (!ok)
            status = NT_STATUS_RPC_BAD_STUB_DATA;
    }
    talloc_free(scratch);
    if (!NT_STATUS_IS_OK(status) || *werror != 0) {
        samba_pipe_free(pipe);
        return NT_STATUS_V(status);
    }
    client->pipe = pipe;
    *out = client;
    return 0;
}

/* DsReplicaGetInfo, level 1, of info_type for every naming context and partner: its answer. */
static NTSTATUS get_info(drsuapi_client *client, uint32_t info_type, TALLOC_CTX *scratch, DATA_BLOB *answer)
{
    struct ndr_push *request = ndr_push_init_ctx(scratch);
    const struct GUID any_source = { 0 };
    /* hDrs, dwInVersion, then the request's union: its discriminant, InfoType, pszObjectDN (none)
     * and uuidSourceDsaObjGuid (none). */
    if (request == NULL || !PUSHED(ndr_push_policy_handle(request, NDR_SCALARS, &client->bind)) ||
        !PUSHED(ndr_push_uint32(request, NDR_SCALARS, GET_INFO_LEVEL_1)) ||
        !PUSHED(ndr_push_uint32(request, NDR_SCALARS, GET_INFO_LEVEL_1)) ||
        !PUSHED(ndr_push_uint32(request, NDR_SCALARS, info_type)) || !PUSHED(ndr_push_unique_ptr(request, NULL)) ||
        !PUSHED(ndr_push_GUID(request, NDR_SCALARS, &any_source)))
        return NT_STATUS_NO_MEMORY;
    return samba_pipe_call(client->pipe, OPNUM_REPLICA_GET_INFO, request, scratch, answer, ANSWER_ROOM);
}

/* pdwOutVersion, the answer's union discriminant and its pointer; true when both name info_type. */
static bool pull_info_head(struct ndr_pull *pull, uint32_t info_type, uint32_t *referent)
{
    uint32_t out_type = 0, discriminant = 0;
    return PULLED(ndr_pull_uint32(pull, NDR_SCALARS, &out_type)) &&
           PULLED(ndr_pull_uint32(pull, NDR_SCALARS, &discriminant)) && PULLED(ndr_pull_generic_ptr(pull, referent)) &&
           (*referent == 0 || (out_type == info_type && discriminant == info_type));
}

/* A [string] wchar_t pointee: its size, offset and length, then the characters. */
static bool pull_text(struct ndr_pull *pull, const char **text)
{
    const uint32_t saved = pull->flags;
    pull->flags |= LIBNDR_FLAG_STR_SIZE4 | LIBNDR_FLAG_STR_LEN4;
    const bool ok = PULLED(ndr_pull_string(pull, NDR_SCALARS, text));
    pull->flags = saved;
    return ok;
}

/* A conformant array's count, before the structure that holds it (aligned to alignment: 8 with a
 * 64-bit number in its entries, else 4). */
static bool pull_count(struct ndr_pull *pull, uint32_t alignment, uint32_t *count)
{
    uint32_t conformance = 0;
    return PULLED(ndr_pull_uint32(pull, NDR_SCALARS, &conformance)) && PULLED(ndr_pull_align(pull, alignment)) &&
           (*count = conformance) <= MAX_ENTRIES;
}

struct raw_neighbor {
    uint32_t texts[4]; /* naming context, source DSA DN, its address, transport DN */
    struct GUID source;
    NTTIME last_success, last_attempt;
    uint32_t result, failures;
};

uint32_t drsuapi_parse_neighbors(const uint8_t *answer, size_t length, drsuapi_neighbor_fn fn, void *context,
                                 uint32_t *werror)
{
    *werror = 0;
    TALLOC_CTX *scratch = talloc_new(NULL);
    DATA_BLOB blob = data_blob_const(answer, length);
    struct ndr_pull *pull = scratch != NULL ? ndr_pull_init_blob(&blob, scratch) : NULL;
    NTSTATUS status = pull != NULL ? NT_STATUS_OK : NT_STATUS_NO_MEMORY;
    uint32_t referent = 0, count = 0, repeated = 0, reserved = 0;
    struct raw_neighbor *raw = NULL;
    const char **texts = NULL;
    bool ok = NT_STATUS_IS_OK(status) && pull_info_head(pull, INFO_NEIGHBORS, &referent);
    if (ok && referent != 0) {
        /* DS_REPL_NEIGHBORSW: cNumNeighbors, dwReserved, then the DS_REPL_NEIGHBORW each. */
        ok = pull_count(pull, 8, &count) && PULLED(ndr_pull_uint32(pull, NDR_SCALARS, &repeated)) &&
             PULLED(ndr_pull_uint32(pull, NDR_SCALARS, &reserved)) && repeated == count;
        raw = ok ? talloc_zero_array(scratch, struct raw_neighbor, count + 1) : NULL;
        texts = ok ? talloc_zero_array(scratch, const char *, 4 * (size_t)count + 1) : NULL;
        ok = raw != NULL && texts != NULL;
        for (uint32_t i = 0; ok && i < count; ++i) {
            struct raw_neighbor *n = &raw[i];
            uint32_t flags = 0, unused = 0;
            struct GUID context_guid, invocation, transport;
            uint64_t usn = 0;
            ok = PULLED(ndr_pull_align(pull, 8));
            for (int t = 0; ok && t < 4; ++t)
                ok = PULLED(ndr_pull_generic_ptr(pull, &n->texts[t]));
            ok = ok && PULLED(ndr_pull_uint32(pull, NDR_SCALARS, &flags)) &&
                 PULLED(ndr_pull_uint32(pull, NDR_SCALARS, &unused)) &&
                 PULLED(ndr_pull_GUID(pull, NDR_SCALARS, &context_guid)) &&
                 PULLED(ndr_pull_GUID(pull, NDR_SCALARS, &n->source)) &&
                 PULLED(ndr_pull_GUID(pull, NDR_SCALARS, &invocation)) &&
                 PULLED(ndr_pull_GUID(pull, NDR_SCALARS, &transport)) &&
                 PULLED(ndr_pull_hyper(pull, NDR_SCALARS, &usn)) && PULLED(ndr_pull_hyper(pull, NDR_SCALARS, &usn)) &&
                 PULLED(ndr_pull_NTTIME(pull, NDR_SCALARS, &n->last_success)) &&
                 PULLED(ndr_pull_NTTIME(pull, NDR_SCALARS, &n->last_attempt)) &&
                 PULLED(ndr_pull_uint32(pull, NDR_SCALARS, &n->result)) &&
                 PULLED(ndr_pull_uint32(pull, NDR_SCALARS, &n->failures)) && PULLED(ndr_pull_trailer_align(pull, 8));
        }
        /* The texts follow, in the order of their pointers. */
        for (uint32_t i = 0; ok && i < count; ++i) {
            for (int t = 0; ok && t < 4; ++t)
                ok = raw[i].texts[t] == 0 || pull_text(pull, &texts[(size_t)4 * i + t]);
        }
    }
    ok = ok && PULLED(ndr_pull_uint32(pull, NDR_SCALARS, werror));
    if (NT_STATUS_IS_OK(status) && !ok)
        status = NT_STATUS_RPC_BAD_STUB_DATA;
    for (uint32_t i = 0; NT_STATUS_IS_OK(status) && *werror == 0 && i < count; ++i) {
        struct drsuapi_neighbor neighbor = {
            .naming_context_dn = texts[(size_t)4 * i] != NULL ? texts[(size_t)4 * i] : "",
            .source_dsa_dn = texts[(size_t)4 * i + 1] != NULL ? texts[(size_t)4 * i + 1] : "",
            .source_dsa_address = texts[(size_t)4 * i + 2] != NULL ? texts[(size_t)4 * i + 2] : "",
            .last_success = raw[i].last_success,
            .last_attempt = raw[i].last_attempt,
            .result_last_attempt = raw[i].result,
            .consecutive_failures = raw[i].failures,
        };
        struct GUID_txt_buf guid;
        snprintf(neighbor.source_dsa_guid, sizeof neighbor.source_dsa_guid, "%s",
                 GUID_buf_string(&raw[i].source, &guid));
        fn(context, &neighbor);
    }
    talloc_free(scratch);
    return NT_STATUS_V(status);
}

static uint32_t neighbors_locked(drsuapi_client *client, drsuapi_neighbor_fn fn, void *context, uint32_t *werror)
{
    *werror = 0;
    TALLOC_CTX *scratch = talloc_new(client->pipe->memory);
    DATA_BLOB answer = { 0 };
    NTSTATUS status = scratch != NULL ? get_info(client, INFO_NEIGHBORS, scratch, &answer) : NT_STATUS_NO_MEMORY;
    const uint32_t result = NT_STATUS_IS_OK(status)
                                ? drsuapi_parse_neighbors(answer.data, answer.length, fn, context, werror)
                                : NT_STATUS_V(status);
    talloc_free(scratch);
    return result;
}

uint32_t drsuapi_parse_pending_operations(const uint8_t *answer, size_t length, uint32_t *count, uint32_t *werror)
{
    *count = *werror = 0;
    TALLOC_CTX *scratch = talloc_new(NULL);
    DATA_BLOB blob = data_blob_const(answer, length);
    struct ndr_pull *pull = scratch != NULL ? ndr_pull_init_blob(&blob, scratch) : NULL;
    NTSTATUS status = pull != NULL ? NT_STATUS_OK : NT_STATUS_NO_MEMORY;
    uint32_t referent = 0, repeated = 0;
    bool ok = NT_STATUS_IS_OK(status) && pull_info_head(pull, INFO_PENDING_OPS, &referent);
    if (ok && referent != 0) {
        /* DS_REPL_PENDING_OPSW: ftimeCurrentOpStarted, cNumPendingOps, then the DS_REPL_OPW each,
         * whose texts follow them all; its times are two 32-bit halves, so it aligns to 4. */
        NTTIME started = 0;
        ok = pull_count(pull, 4, count) && PULLED(ndr_pull_NTTIME(pull, NDR_SCALARS, &started)) &&
             PULLED(ndr_pull_uint32(pull, NDR_SCALARS, &repeated)) && repeated == *count;
        uint32_t *pointers = ok ? talloc_zero_array(scratch, uint32_t, 3 * (size_t)*count + 1) : NULL;
        ok = pointers != NULL;
        for (uint32_t i = 0; ok && i < *count; ++i) {
            uint32_t serial = 0, priority = 0, options = 0;
            uint16_t type = 0;
            struct GUID guid;
            ok = PULLED(ndr_pull_align(pull, 4)) && PULLED(ndr_pull_NTTIME(pull, NDR_SCALARS, &started)) &&
                 PULLED(ndr_pull_uint32(pull, NDR_SCALARS, &serial)) &&
                 PULLED(ndr_pull_uint32(pull, NDR_SCALARS, &priority)) &&
                 PULLED(ndr_pull_uint16(pull, NDR_SCALARS, &type)) &&
                 PULLED(ndr_pull_uint32(pull, NDR_SCALARS, &options));
            for (int t = 0; ok && t < 3; ++t)
                ok = PULLED(ndr_pull_generic_ptr(pull, &pointers[(size_t)3 * i + t]));
            ok = ok && PULLED(ndr_pull_GUID(pull, NDR_SCALARS, &guid)) &&
                 PULLED(ndr_pull_GUID(pull, NDR_SCALARS, &guid)) && PULLED(ndr_pull_trailer_align(pull, 4));
        }
        for (uint32_t i = 0; ok && i < 3 * *count; ++i) {
            const char *text = NULL;
            ok = pointers[i] == 0 || pull_text(pull, &text);
        }
    }
    ok = ok && PULLED(ndr_pull_uint32(pull, NDR_SCALARS, werror));
    if (NT_STATUS_IS_OK(status) && !ok)
        status = NT_STATUS_RPC_BAD_STUB_DATA;
    if (!NT_STATUS_IS_OK(status))
        *count = 0;
    talloc_free(scratch);
    return NT_STATUS_V(status);
}

static uint32_t pending_locked(drsuapi_client *client, uint32_t *count, uint32_t *werror)
{
    *count = *werror = 0;
    TALLOC_CTX *scratch = talloc_new(client->pipe->memory);
    DATA_BLOB answer = { 0 };
    NTSTATUS status = scratch != NULL ? get_info(client, INFO_PENDING_OPS, scratch, &answer) : NT_STATUS_NO_MEMORY;
    const uint32_t result = NT_STATUS_IS_OK(status)
                                ? drsuapi_parse_pending_operations(answer.data, answer.length, count, werror)
                                : NT_STATUS_V(status);
    talloc_free(scratch);
    return result;
}

static void close_locked(drsuapi_client *client)
{
    if (client == NULL)
        return;
    TALLOC_CTX *scratch = talloc_new(client->pipe->memory);
    struct ndr_push *request = scratch != NULL ? ndr_push_init_ctx(scratch) : NULL;
    DATA_BLOB answer;
    if (!client->pipe->failed && request != NULL && PUSHED(ndr_push_policy_handle(request, NDR_SCALARS, &client->bind)))
        (void)samba_pipe_call(client->pipe, OPNUM_UNBIND, request, scratch, &answer, 0);
    samba_pipe_free(client->pipe);
}

uint32_t drsuapi_client_open(const struct samba_connect_options *options, drsuapi_client **client, uint32_t *werror)
{
    samba_calls_enter();
    const uint32_t status = bind_locked(options, client, werror);
    samba_calls_leave();
    return status;
}

uint32_t drsuapi_client_neighbors(drsuapi_client *client, drsuapi_neighbor_fn fn, void *context, uint32_t *werror)
{
    samba_calls_enter();
    const uint32_t status = neighbors_locked(client, fn, context, werror);
    samba_calls_leave();
    return status;
}

uint32_t drsuapi_client_pending_operations(drsuapi_client *client, uint32_t *count, uint32_t *werror)
{
    samba_calls_enter();
    const uint32_t status = pending_locked(client, count, werror);
    samba_calls_leave();
    return status;
}

int drsuapi_client_failed(const drsuapi_client *client)
{
    return client->pipe->failed;
}

void drsuapi_client_close(drsuapi_client *client)
{
    samba_calls_enter();
    close_locked(client);
    samba_calls_leave();
}
