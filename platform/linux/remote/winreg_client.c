/* The three winreg calls, encoded with libndr's primitives after MS-RRP (sections 3.1.5.3,
 * 3.1.5.6 and 3.1.5.17) and sent with the binding handle's raw call; libdcerpc brings the
 * transport (SMB, NTLMSSP or Kerberos, DCERPC). */
#include "platform/linux/remote/winreg_client.h"
#include "platform/linux/samba/samba_pipe.h"

#include <string.h>

enum {
    OPNUM_OPEN_HKPD = 3,
    OPNUM_CLOSE_KEY = 5,
    OPNUM_QUERY_VALUE = 17,
    MAXIMUM_ALLOWED = 0x02000000, /* REGSAM: what the caller may have */
    MAX_VALUE_NAME_CHARS = 256,
};

/* The winreg interface (MS-RRP 1.9): UUID 338cd001-2244-31f1-aaaa-900038001003, version 1.0,
 * reached on the \pipe\winreg named pipe; "host" names the service principal for Kerberos. */
static const char *const winreg_endpoint_names[] = { "ncacn_np:[\\pipe\\winreg]" };
static const struct ndr_interface_string_array winreg_endpoints = { 1, winreg_endpoint_names };
static const char *const winreg_authservice_names[] = { "host" };
static const struct ndr_interface_string_array winreg_authservices = { 1, winreg_authservice_names };
static const struct ndr_interface_table winreg_table = {
    .name = "winreg",
    .syntax_id = { { 0x338cd001, 0x2244, 0x31f1, { 0xaa, 0xaa }, { 0x90, 0x00, 0x38, 0x00, 0x10, 0x03 } }, 1 },
    .helpstring = "Remote Registry",
    .endpoints = &winreg_endpoints,
    .authservices = &winreg_authservices,
};

struct winreg_client {
    struct samba_pipe *pipe;
    struct policy_handle key;
};

/* The policy handle and WERROR that end the answers of OpenHKPD and BaseRegCloseKey. */
static NTSTATUS pull_handle_answer(DATA_BLOB answer, TALLOC_CTX *memory, struct policy_handle *key, uint32_t *werror)
{
    struct ndr_pull *pull = ndr_pull_init_blob(&answer, memory);
    if (pull == NULL)
        return NT_STATUS_NO_MEMORY;
    if (!NDR_ERR_CODE_IS_SUCCESS(ndr_pull_policy_handle(pull, NDR_SCALARS, key)) ||
        !NDR_ERR_CODE_IS_SUCCESS(ndr_pull_uint32(pull, NDR_SCALARS, werror)))
        return NT_STATUS_RPC_BAD_STUB_DATA;
    return NT_STATUS_OK;
}

static uint32_t open_locked(const struct samba_connect_options *options, winreg_client **out, uint32_t *werror)
{
    *out = NULL;
    *werror = 0;
    struct samba_pipe *pipe = NULL;
    NTSTATUS status = samba_pipe_open(options, &winreg_table, "\\pipe\\winreg", &pipe);
    if (!NT_STATUS_IS_OK(status))
        return NT_STATUS_V(status);
    struct winreg_client *client = talloc_zero(pipe->memory, struct winreg_client);
    TALLOC_CTX *scratch = talloc_new(pipe->memory);
    struct ndr_push *request = scratch != NULL ? ndr_push_init_ctx(scratch) : NULL;
    DATA_BLOB answer;
    if (client == NULL || request == NULL || !NDR_ERR_CODE_IS_SUCCESS(ndr_push_unique_ptr(request, NULL)) ||
        !NDR_ERR_CODE_IS_SUCCESS(ndr_push_uint32(request, NDR_SCALARS, MAXIMUM_ALLOWED)))
        status = NT_STATUS_NO_MEMORY;
    else
        status = samba_pipe_call(pipe, OPNUM_OPEN_HKPD, request, scratch, &answer, 0);
    if (NT_STATUS_IS_OK(status))
        status = pull_handle_answer(answer, scratch, &client->key, werror);
    talloc_free(scratch);
    if (!NT_STATUS_IS_OK(status) || *werror != 0) {
        samba_pipe_free(pipe);
        return NT_STATUS_V(status);
    }
    client->pipe = pipe;
    *out = client;
    return 0;
}

/* RRP_UNICODE_STRING (MS-RRP 2.2.4): lengths in bytes with the terminating NUL, then the
 * characters as a conformant varying array. */
static bool push_value_name(struct ndr_push *request, const char *name)
{
    const size_t chars = strlen(name) + 1;
    if (chars > MAX_VALUE_NAME_CHARS)
        return false;
    bool ok = NDR_ERR_CODE_IS_SUCCESS(ndr_push_uint16(request, NDR_SCALARS, (uint16_t)(2 * chars))) &&
              NDR_ERR_CODE_IS_SUCCESS(ndr_push_uint16(request, NDR_SCALARS, (uint16_t)(2 * chars))) &&
              NDR_ERR_CODE_IS_SUCCESS(ndr_push_unique_ptr(request, name)) &&
              NDR_ERR_CODE_IS_SUCCESS(ndr_push_uint32(request, NDR_SCALARS, (uint32_t)chars)) &&
              NDR_ERR_CODE_IS_SUCCESS(ndr_push_uint32(request, NDR_SCALARS, 0)) &&
              NDR_ERR_CODE_IS_SUCCESS(ndr_push_uint32(request, NDR_SCALARS, (uint32_t)chars));
    for (size_t i = 0; ok && i < chars; ++i) {
        const unsigned char c = (unsigned char)name[i];
        ok = c < 0x80 && NDR_ERR_CODE_IS_SUCCESS(ndr_push_uint16(request, NDR_SCALARS, c));
    }
    return ok;
}

/* A [unique] pointer to a DWORD: the referent and the value, both only when present. */
static bool pull_optional_dword(struct ndr_pull *pull, uint32_t *value)
{
    uint32_t referent = 0;
    *value = 0;
    return NDR_ERR_CODE_IS_SUCCESS(ndr_pull_generic_ptr(pull, &referent)) &&
           (referent == 0 || NDR_ERR_CODE_IS_SUCCESS(ndr_pull_uint32(pull, NDR_SCALARS, value)));
}

static uint32_t query_value_locked(winreg_client *client, const char *name, uint8_t *data, uint32_t buffer_size,
                                   uint32_t *length, uint32_t *type, uint32_t *needed, uint32_t *werror)
{
    *length = *type = *needed = *werror = 0;
    TALLOC_CTX *scratch = talloc_new(client->pipe->memory);
    struct ndr_push *request = scratch != NULL ? ndr_push_init_ctx(scratch) : NULL;
    if (request == NULL) {
        talloc_free(scratch);
        return NT_STATUS_V(NT_STATUS_NO_MEMORY);
    }
    /* hKey, lpValueName, then lpType (REG_NONE), lpData (room for buffer_size bytes, none
     * sent), lpcbData (buffer_size) and lpcbLen (0), each a [unique] pointer. */
    const bool pushed = NDR_ERR_CODE_IS_SUCCESS(ndr_push_policy_handle(request, NDR_SCALARS, &client->key)) &&
                        push_value_name(request, name) && NDR_ERR_CODE_IS_SUCCESS(ndr_push_unique_ptr(request, type)) &&
                        NDR_ERR_CODE_IS_SUCCESS(ndr_push_uint32(request, NDR_SCALARS, 0)) &&
                        NDR_ERR_CODE_IS_SUCCESS(ndr_push_unique_ptr(request, data)) &&
                        NDR_ERR_CODE_IS_SUCCESS(ndr_push_uint32(request, NDR_SCALARS, buffer_size)) &&
                        NDR_ERR_CODE_IS_SUCCESS(ndr_push_uint32(request, NDR_SCALARS, 0)) &&
                        NDR_ERR_CODE_IS_SUCCESS(ndr_push_uint32(request, NDR_SCALARS, 0)) &&
                        NDR_ERR_CODE_IS_SUCCESS(ndr_push_unique_ptr(request, needed)) &&
                        NDR_ERR_CODE_IS_SUCCESS(ndr_push_uint32(request, NDR_SCALARS, buffer_size)) &&
                        NDR_ERR_CODE_IS_SUCCESS(ndr_push_unique_ptr(request, length)) &&
                        NDR_ERR_CODE_IS_SUCCESS(ndr_push_uint32(request, NDR_SCALARS, 0));
    if (!pushed) {
        talloc_free(scratch);
        return NT_STATUS_V(NT_STATUS_INVALID_PARAMETER);
    }
    DATA_BLOB answer;
    NTSTATUS status = samba_pipe_call(client->pipe, OPNUM_QUERY_VALUE, request, scratch, &answer, buffer_size);
    if (NT_STATUS_IS_OK(status)) {
        struct ndr_pull *pull = ndr_pull_init_blob(&answer, scratch);
        uint32_t referent = 0, size = 0, offset = 0, count = 0, data_length = 0;
        bool ok = pull != NULL && pull_optional_dword(pull, type) &&
                  NDR_ERR_CODE_IS_SUCCESS(ndr_pull_generic_ptr(pull, &referent));
        if (ok && referent != 0) {
            /* The conformant varying array of the data: its size, offset and length. */
            ok = NDR_ERR_CODE_IS_SUCCESS(ndr_pull_uint32(pull, NDR_SCALARS, &size)) &&
                 NDR_ERR_CODE_IS_SUCCESS(ndr_pull_uint32(pull, NDR_SCALARS, &offset)) &&
                 NDR_ERR_CODE_IS_SUCCESS(ndr_pull_uint32(pull, NDR_SCALARS, &count)) && offset == 0 && count <= size &&
                 count <= buffer_size && NDR_ERR_CODE_IS_SUCCESS(ndr_pull_array_uint8(pull, NDR_SCALARS, data, count));
            data_length = count;
        }
        ok = ok && pull_optional_dword(pull, needed) && pull_optional_dword(pull, length) &&
             NDR_ERR_CODE_IS_SUCCESS(ndr_pull_uint32(pull, NDR_SCALARS, werror));
        if (!ok)
            status = NT_STATUS_RPC_BAD_STUB_DATA;
        /* lpcbLen says how much of the array counts; never more than came. */
        if (*length > data_length)
            *length = data_length;
    }
    talloc_free(scratch);
    return NT_STATUS_V(status);
}

static void close_locked(winreg_client *client)
{
    if (client == NULL)
        return;
    TALLOC_CTX *scratch = talloc_new(client->pipe->memory);
    struct ndr_push *request = scratch != NULL ? ndr_push_init_ctx(scratch) : NULL;
    DATA_BLOB answer;
    struct policy_handle closed;
    uint32_t werror = 0;
    if (!client->pipe->failed && request != NULL &&
        NDR_ERR_CODE_IS_SUCCESS(ndr_push_policy_handle(request, NDR_SCALARS, &client->key)) &&
        NT_STATUS_IS_OK(samba_pipe_call(client->pipe, OPNUM_CLOSE_KEY, request, scratch, &answer, 0)))
        (void)pull_handle_answer(answer, scratch, &closed, &werror);
    samba_pipe_free(client->pipe);
}

uint32_t winreg_client_open(const struct samba_connect_options *options, winreg_client **out, uint32_t *werror)
{
    samba_calls_enter();
    const uint32_t status = open_locked(options, out, werror);
    samba_calls_leave();
    return status;
}

uint32_t winreg_client_query_value(winreg_client *client, const char *name, uint8_t *data, uint32_t buffer_size,
                                   uint32_t *length, uint32_t *type, uint32_t *needed, uint32_t *werror)
{
    samba_calls_enter();
    const uint32_t status = query_value_locked(client, name, data, buffer_size, length, type, needed, werror);
    samba_calls_leave();
    return status;
}

void winreg_client_close(winreg_client *client)
{
    samba_calls_enter();
    close_locked(client);
    samba_calls_leave();
}
