/* The logon of a network connection: Samba's libdcerpc sets up the SMB session, connects IPC$
 * and opens srvsvc; one call of that interface, NetShareGetInfo (MS-SRVS 3.1.4.10, opnum 16),
 * encoded with libndr's primitives, asks for a share. */
#include "platform/linux/samba/smb_logon.h"
#include "platform/linux/samba/samba_pipe.h"

enum {
    OPNUM_NET_SHARE_GET_INFO = 16,
    /* Win32 errors of the connection (winerror.h, lmerr.h) */
    ERROR_NOT_ENOUGH_MEMORY_ = 8,
    ERROR_BAD_NETPATH_ = 53,
    ERROR_UNEXP_NET_ERR_ = 59,
    ERROR_BAD_NET_NAME_ = 67,
    ERROR_INVALID_NAME_ = 123, /* Samba's answer for a share it has not */
    ERROR_SEM_TIMEOUT_ = 121,
    NERR_NET_NAME_NOT_FOUND_ = 2310, /* Windows' answer for a share it has not */
};

/* The server service (MS-SRVS 1.9): UUID 4b324fc8-1670-01d3-1278-5a47bf6ee188, version 3.0, on
 * the \pipe\srvsvc named pipe. */
static const char *const srvsvc_endpoint_names[] = { "ncacn_np:[\\pipe\\srvsvc]" };
static const struct ndr_interface_string_array srvsvc_endpoints = { 1, srvsvc_endpoint_names };
static const char *const srvsvc_authservice_names[] = { "host" };
static const struct ndr_interface_string_array srvsvc_authservices = { 1, srvsvc_authservice_names };
static const struct ndr_interface_table srvsvc_table = {
    .name = "srvsvc",
    .syntax_id = { { 0x4b324fc8, 0x1670, 0x01d3, { 0x12, 0x78 }, { 0x5a, 0x47, 0xbf, 0x6e, 0xe1, 0x88 } }, 3 },
    .helpstring = "Server Service",
    .endpoints = &srvsvc_endpoints,
    .authservices = &srvsvc_authservices,
};

struct smb_logon {
    struct samba_pipe *pipe;
};

/* The connection's failures as Windows' network connections report them: a server that could not
 * be reached at all is a bad network path, whatever the socket said. */
static uint32_t win32_from_connect_status(NTSTATUS status)
{
    if (NT_STATUS_EQUAL(status, NT_STATUS_IO_TIMEOUT))
        return ERROR_SEM_TIMEOUT_;
    if (NT_STATUS_EQUAL(status, NT_STATUS_NO_MEMORY))
        return ERROR_NOT_ENOUGH_MEMORY_;
    if (NT_STATUS_EQUAL(status, NT_STATUS_CONNECTION_REFUSED) || NT_STATUS_EQUAL(status, NT_STATUS_HOST_UNREACHABLE) ||
        NT_STATUS_EQUAL(status, NT_STATUS_NETWORK_UNREACHABLE) || NT_STATUS_EQUAL(status, NT_STATUS_PORT_UNREACHABLE) ||
        NT_STATUS_EQUAL(status, NT_STATUS_CONNECTION_RESET) ||
        NT_STATUS_EQUAL(status, NT_STATUS_CONNECTION_DISCONNECTED) ||
        NT_STATUS_EQUAL(status, NT_STATUS_CONNECTION_ABORTED) || NT_STATUS_EQUAL(status, NT_STATUS_LOCAL_DISCONNECT) ||
        NT_STATUS_EQUAL(status, NT_STATUS_REMOTE_DISCONNECT) || NT_STATUS_EQUAL(status, NT_STATUS_END_OF_FILE) ||
        NT_STATUS_EQUAL(status, NT_STATUS_BAD_NETWORK_NAME) || NT_STATUS_EQUAL(status, NT_STATUS_BAD_NETWORK_PATH) ||
        NT_STATUS_EQUAL(status, NT_STATUS_INVALID_NETWORK_RESPONSE))
        return ERROR_BAD_NETPATH_;
    const uint32_t win32 = W_ERROR_V(ntstatus_to_werror(status));
    return win32 != 0 ? win32 : ERROR_UNEXP_NET_ERR_;
}

/* NetShareGetInfo of share at level 0 (its name alone, which any logged-on user may ask): the
 * WERROR that ends the answer, or the exchange's failure. */
static uint32_t ask_for_share(struct samba_pipe *pipe, const char *share)
{
    TALLOC_CTX *scratch = talloc_new(pipe->memory);
    struct ndr_push *request = scratch != NULL ? ndr_push_init_ctx(scratch) : NULL;
    if (request == NULL) {
        talloc_free(scratch);
        return ERROR_NOT_ENOUGH_MEMORY_;
    }
    /* ServerName: a null [unique] pointer; NetName: a conformant varying UTF-16 string with its
     * terminating NUL; Level. */
    const uint32_t chars = ndr_charset_length(share, CH_UTF16);
    const bool pushed =
        NDR_ERR_CODE_IS_SUCCESS(ndr_push_unique_ptr(request, NULL)) &&
        NDR_ERR_CODE_IS_SUCCESS(ndr_push_uint32(request, NDR_SCALARS, chars)) &&
        NDR_ERR_CODE_IS_SUCCESS(ndr_push_uint32(request, NDR_SCALARS, 0)) &&
        NDR_ERR_CODE_IS_SUCCESS(ndr_push_uint32(request, NDR_SCALARS, chars)) &&
        NDR_ERR_CODE_IS_SUCCESS(ndr_push_charset(request, NDR_SCALARS, share, chars, sizeof(uint16_t), CH_UTF16)) &&
        NDR_ERR_CODE_IS_SUCCESS(ndr_push_uint32(request, NDR_SCALARS, 0));
    if (!pushed) {
        talloc_free(scratch);
        return ERROR_BAD_NET_NAME_;
    }
    DATA_BLOB answer;
    NTSTATUS status = samba_pipe_call(pipe, OPNUM_NET_SHARE_GET_INFO, request, scratch, &answer, 4096);
    uint32_t result = 0;
    if (!NT_STATUS_IS_OK(status)) {
        result = win32_from_connect_status(status);
    } else if (answer.length < 4) {
        result = ERROR_UNEXP_NET_ERR_;
    } else {
        /* The WERROR is the answer's last four bytes, whatever the share's information before it. */
        const uint8_t *end = answer.data + answer.length - 4;
        const uint32_t werror =
            (uint32_t)end[0] | (uint32_t)end[1] << 8 | (uint32_t)end[2] << 16 | (uint32_t)end[3] << 24;
        result = werror == NERR_NET_NAME_NOT_FOUND_ || werror == ERROR_INVALID_NAME_ ? ERROR_BAD_NET_NAME_ : werror;
    }
    talloc_free(scratch);
    return result;
}

uint32_t smb_logon_open(const struct samba_connect_options *options, const char *share, smb_logon **out)
{
    *out = NULL;
    samba_calls_enter();
    struct samba_pipe *pipe = NULL;
    const NTSTATUS status = samba_pipe_open(options, &srvsvc_table, "\\pipe\\srvsvc", &pipe);
    uint32_t result = NT_STATUS_IS_OK(status) ? 0 : win32_from_connect_status(status);
    struct smb_logon *logon = result == 0 ? talloc_zero(pipe->memory, struct smb_logon) : NULL;
    if (result == 0 && logon == NULL)
        result = ERROR_NOT_ENOUGH_MEMORY_;
    if (result == 0 && share != NULL)
        result = ask_for_share(pipe, share);
    if (result == 0) {
        logon->pipe = pipe;
        *out = logon;
    } else {
        samba_pipe_free(pipe);
    }
    samba_calls_leave();
    return result;
}

uint32_t smb_logon_ask_for_share(smb_logon *logon, const char *share, unsigned timeout_seconds)
{
    samba_calls_enter();
    dcerpc_binding_handle_set_timeout(logon->pipe->pipe->binding_handle, timeout_seconds);
    const uint32_t result = ask_for_share(logon->pipe, share);
    samba_calls_leave();
    return result;
}

bool smb_logon_failed(const smb_logon *logon)
{
    return logon->pipe->failed;
}

void smb_logon_close(smb_logon *logon)
{
    if (logon == NULL)
        return;
    samba_calls_enter();
    samba_pipe_free(logon->pipe);
    samba_calls_leave();
}
