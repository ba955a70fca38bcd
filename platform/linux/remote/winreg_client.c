/* The three winreg calls, encoded with libndr's primitives after MS-RRP (sections 3.1.5.3,
 * 3.1.5.6 and 3.1.5.17) and sent with the binding handle's raw call; libdcerpc brings the
 * transport (SMB, NTLMSSP or Kerberos, DCERPC). */
#include "platform/linux/remote/winreg_client.h"
#include "platform/linux/samba/samba_calls.h"

#include <errno.h>
#include <pthread.h>
#include <stdbool.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <stdio.h>
#include <string.h>
#include <krb5.h>
#include <talloc.h>
#include <tevent.h>

#include <core/error.h>
#include <credentials.h>
#include <dcerpc.h>
#include <param.h>

enum {
    OPNUM_OPEN_HKPD = 3,
    OPNUM_CLOSE_KEY = 5,
    OPNUM_QUERY_VALUE = 17,
    MAXIMUM_ALLOWED = 0x02000000, /* REGSAM: what the caller may have */
    MAX_VALUE_NAME_CHARS = 256,
    /* What an answer holds besides the data asked for: the fixed fields of QueryValue's answer
     * (44 bytes) or a policy handle and status, with room to spare. */
    ANSWER_MARGIN = 64 * 1024,
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
    TALLOC_CTX *memory;
    struct tevent_context *events; /* the connection's own */
    int loop_depth;                /* its loops running on this thread, nested ones included */
    struct dcerpc_pipe *pipe;
    struct policy_handle key;
    bool failed; /* an exchange failed: the connection is not to be used again */
};

static int initialised_state; /* 1 done, -1 failed */

static const struct tevent_ops *watching_backend(void);

/* Once for the process, whichever thread comes first: the libraries' registrations and the
 * event backend's table, which a thread must not see half made. */
static void initialise(void)
{
    initialised_state = NT_STATUS_IS_OK(dcerpc_init()) && watching_backend() != NULL ? 1 : -1;
}

static bool initialised(void)
{
    static pthread_once_t once = PTHREAD_ONCE_INIT;
    pthread_once(&once, initialise);
    return initialised_state == 1;
}

/* The lock is let go only for the wait of this client's own loop, never for a loop nested in one
 * of the libraries' handlers (the Kerberos exchange runs one), which may be in the middle of
 * their state. */
static void unlocked_while_waiting(enum tevent_trace_point point, void *private_data)
{
    int *loop_depth = private_data;
    switch (point) {
    case TEVENT_TRACE_BEFORE_LOOP_ONCE:
        ++*loop_depth;
        break;
    case TEVENT_TRACE_AFTER_LOOP_ONCE:
        --*loop_depth;
        break;
    case TEVENT_TRACE_BEFORE_WAIT:
        if (*loop_depth == 1)
            samba_calls_leave();
        break;
    case TEVENT_TRACE_AFTER_WAIT:
        if (*loop_depth == 1)
            samba_calls_enter();
        break;
    default:
        break;
    }
}

/* The password the credentials hold, overwritten and dropped: once the session is set up it is
 * not needed, and talloc would free it without wiping it. */
static void wipe_password(struct cli_credentials *credentials)
{
    const char *password = cli_credentials_get_password(credentials);
    if (password != NULL)
        memset((char *)password, 0, strlen(password));
    cli_credentials_set_password(credentials, NULL, CRED_SPECIFIED);
}

/* Whether the user's default ticket cache (KRB5CCNAME, kinit, SSSD's) holds a principal. Asked of
 * Kerberos itself: Samba's own look at a cache that is not there leaves its client unable to open
 * an anonymous session afterwards. */
static bool have_ticket(void)
{
    krb5_context context = NULL;
    krb5_ccache cache = NULL;
    krb5_principal principal = NULL;
    bool found = false;
    if (krb5_init_context(&context) != 0)
        return false;
    if (krb5_cc_default(context, &cache) == 0) {
        found = krb5_cc_get_principal(context, cache, &principal) == 0;
        if (found)
            krb5_free_principal(context, principal);
        krb5_cc_close(context, cache);
    }
    krb5_free_context(context);
    return found;
}

static struct cli_credentials *make_credentials(TALLOC_CTX *memory, struct loadparm_context *lp,
                                                const struct winreg_connect_options *options)
{
    struct cli_credentials *credentials = cli_credentials_init(memory);
    const char *error = NULL;
    if (credentials == NULL || !cli_credentials_set_conf(credentials, lp))
        return NULL;
    switch (options->logon) {
    case WINREG_LOGON_PASSWORD: {
        const char *user = options->user;
        const char *backslash = strchr(user, '\\');
        if (backslash != NULL) {
            char *domain = talloc_strndup(memory, user, (size_t)(backslash - user));
            if (domain == NULL || !cli_credentials_set_domain(credentials, domain, CRED_SPECIFIED))
                return NULL;
            user = backslash + 1;
        }
        if (!cli_credentials_set_username(credentials, user, CRED_SPECIFIED) ||
            !cli_credentials_set_password(credentials, options->password, CRED_SPECIFIED) ||
            !cli_credentials_set_kerberos_state(credentials, CRED_USE_KERBEROS_DISABLED, CRED_SPECIFIED))
            return NULL;
        return credentials;
    }
    case WINREG_LOGON_OWN_TICKET:
        if (have_ticket())
            return cli_credentials_set_ccache(credentials, lp, NULL, CRED_SPECIFIED, &error) == 0 &&
                           cli_credentials_set_kerberos_state(credentials, CRED_USE_KERBEROS_REQUIRED, CRED_SPECIFIED)
                       ? credentials
                       : NULL;
        cli_credentials_set_anonymous(credentials);
        return credentials;
    case WINREG_LOGON_TICKET_CACHE:
        /* The principal is the cache's; without a ticket there the logon fails rather than
         * falling back to anything else. */
        if (options->ccache == NULL || *options->ccache == '\0')
            return NULL;
        return cli_credentials_set_ccache(credentials, lp, options->ccache, CRED_SPECIFIED, &error) == 0 &&
                       cli_credentials_set_kerberos_state(credentials, CRED_USE_KERBEROS_REQUIRED, CRED_SPECIFIED)
                   ? credentials
                   : NULL;
    }
    return NULL;
}

/* The connection's own timers are Samba's, a minute for SMB and DCERPC alike: a server that takes
 * the TCP connection and then never answers would hold the caller that long. So the connection
 * runs on an event context of its own whose backend notes every descriptor the connection waits
 * on (its sockets to the server, and to a KDC); at the end of the time allowed they are shut
 * down, which ends every wait on them at once with the connection reset. Only descriptors this
 * connection watches are touched, whatever their number, never another connection's. */
enum { MAX_WATCHED = 16 };

struct watch_entry;

struct watched_sockets {
    struct watch_entry *entries[MAX_WATCHED];
    size_t count;
    bool overflowed; /* more descriptors than the list holds: the deadline ends the wait instead */
    bool expired;
};

/* The list of the connection being made on this thread, while it is made. */
static __thread struct watched_sockets *watching;

static const struct tevent_ops *standard_ops;
static struct tevent_ops watching_ops;

/* A watched descriptor, a child of its event: it leaves the list when the event goes, which is
 * before the descriptor is closed. */
struct watch_entry {
    struct watched_sockets *sockets; /* NULL once the connection is made */
    int fd;
};

static int unwatch(struct watch_entry *entry)
{
    struct watched_sockets *sockets = entry->sockets;
    for (size_t i = 0; sockets != NULL && i < sockets->count; ++i) {
        if (sockets->entries[i] == entry) {
            sockets->entries[i] = sockets->entries[--sockets->count];
            break;
        }
    }
    return 0;
}

/* The connection is made or has failed: what it still watches is its own business from now on. */
static void stop_watching(struct watched_sockets *sockets)
{
    for (size_t i = 0; i < sockets->count; ++i)
        sockets->entries[i]->sockets = NULL;
    sockets->count = 0;
}

static struct tevent_fd *watching_add_fd(struct tevent_context *ev, TALLOC_CTX *mem_ctx, int fd, uint16_t flags,
                                         tevent_fd_handler_t handler, void *private_data, const char *handler_name,
                                         const char *location)
{
    struct tevent_fd *fde = standard_ops->add_fd(ev, mem_ctx, fd, flags, handler, private_data, handler_name, location);
    struct watched_sockets *sockets = watching;
    if (fde == NULL || sockets == NULL)
        return fde;
    struct watch_entry *entry = sockets->count < MAX_WATCHED ? talloc(fde, struct watch_entry) : NULL;
    if (entry == NULL) {
        sockets->overflowed = true;
        return fde;
    }
    entry->sockets = sockets;
    entry->fd = fd;
    sockets->entries[sockets->count++] = entry;
    talloc_set_destructor(entry, unwatch);
    return fde;
}

/* The "poll" backend with its add_fd noting descriptors; NULL when tevent has no such backend. */
static const struct tevent_ops *watching_backend(void)
{
    if (standard_ops == NULL) {
        standard_ops = tevent_find_ops_byname("poll");
        if (standard_ops == NULL)
            return NULL;
        watching_ops = *standard_ops;
        watching_ops.add_fd = watching_add_fd;
    }
    return &watching_ops;
}

static void connect_deadline(struct tevent_context *events, struct tevent_timer *timer, struct timeval now, void *data)
{
    struct watched_sockets *sockets = data;
    (void)events;
    (void)timer;
    (void)now;
    sockets->expired = true;
    for (size_t i = 0; i < sockets->count; ++i)
        shutdown(sockets->entries[i]->fd, SHUT_RDWR);
}

/* One call: the request's bytes out, the answer's bytes back. An answer longer than data_room
 * bytes of data and the margin ends the call and the connection as it arrives: libdcerpc would
 * otherwise put together up to DCERPC_NCACN_RESPONSE_DEFAULT_MAX_SIZE (240 MiB) of fragments
 * before anything here could look at it. */
static NTSTATUS call(struct winreg_client *client, uint32_t opnum, struct ndr_push *request, TALLOC_CTX *memory,
                     DATA_BLOB *answer, uint32_t data_room)
{
    client->pipe->conn->max_total_response_size = (size_t)data_room + ANSWER_MARGIN;
    const DATA_BLOB in = ndr_push_blob(request);
    uint8_t *out = NULL;
    size_t out_length = 0;
    uint32_t out_flags = 0;
    /* The call's request and wait on the connection's own context, with no stack frame of the
     * libraries' synchronous call held across the wait. */
    struct tevent_req *request_sent = dcerpc_binding_handle_raw_call_send(memory, client->events, client->pipe->binding_handle,
                                                                          NULL, opnum, 0, in.data, in.length);
    NTSTATUS status = NT_STATUS_NO_MEMORY;
    if (request_sent != NULL)
        status = tevent_req_poll(request_sent, client->events)
                     ? dcerpc_binding_handle_raw_call_recv(request_sent, memory, &out, &out_length, &out_flags)
                     : NT_STATUS_INTERNAL_ERROR;
    talloc_free(request_sent);
    *answer = data_blob_const(out, out_length);
    if (!NT_STATUS_IS_OK(status))
        client->failed = true;
    return status;
}

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

static uint32_t open_locked(const struct winreg_connect_options *options, winreg_client **out, uint32_t *werror)
{
    *out = NULL;
    *werror = 0;
    if (!initialised())
        return NT_STATUS_V(NT_STATUS_INTERNAL_ERROR);
    const struct tevent_ops *backend = &watching_ops; /* made by initialised() */
    TALLOC_CTX *memory = talloc_new(NULL);
    struct winreg_client *client = memory != NULL ? talloc_zero(memory, struct winreg_client) : NULL;
    struct tevent_context *events = memory != NULL ? tevent_context_init_ops(memory, backend, NULL) : NULL;
    struct loadparm_context *lp = memory != NULL ? loadparm_init(memory) : NULL;
    if (client == NULL || events == NULL || lp == NULL) {
        talloc_free(memory);
        return NT_STATUS_V(NT_STATUS_NO_MEMORY);
    }
    client->memory = memory;
    client->events = events;
    tevent_set_trace_callback(events, unlocked_while_waiting, &client->loop_depth);
    /* Names are looked up through the system resolver only: no NetBIOS broadcasts or WINS. */
    lpcfg_set_cmdline(lp, "name resolve order", "host");
    if (options->port != 0) {
        char port[8];
        snprintf(port, sizeof port, "%u", (unsigned)options->port);
        lpcfg_set_cmdline(lp, "smb ports", port);
    }
    struct cli_credentials *credentials = make_credentials(memory, lp, options);
    struct dcerpc_binding *binding = NULL;
    char *text = talloc_asprintf(memory, "ncacn_np:%s[\\pipe\\winreg]", options->server);
    if (credentials == NULL || text == NULL) {
        if (credentials != NULL)
            wipe_password(credentials);
        talloc_free(memory);
        /* A ticket cache that could not be read holds no logon to make. */
        return credentials == NULL && options->logon == WINREG_LOGON_TICKET_CACHE ? NT_STATUS_V(NT_STATUS_NO_SUCH_LOGON_SESSION)
                                                                                  : NT_STATUS_V(NT_STATUS_NO_MEMORY);
    }
    NTSTATUS status = dcerpc_parse_binding(memory, text, &binding);
    if (NT_STATUS_IS_OK(status) && options->target_name != NULL)
        status = dcerpc_binding_set_string_option(binding, "target_hostname", options->target_name);
    if (NT_STATUS_IS_OK(status)) {
        struct watched_sockets sockets = { .count = 0 };
        struct tevent_timer *deadline =
            tevent_add_timer(events, memory,
                             timeval_current_ofs(options->connect_timeout_ms / 1000, (options->connect_timeout_ms % 1000) * 1000),
                             connect_deadline, &sockets);
        watching = &sockets;
        status = deadline == NULL ? NT_STATUS_NO_MEMORY
                                  : dcerpc_pipe_connect_b(memory, &client->pipe, binding, &winreg_table, credentials,
                                                          events, lp);
        watching = NULL;
        stop_watching(&sockets);
        if (!sockets.expired)
            talloc_free(deadline); /* a timer that fired is freed by tevent */
        /* A wait the deadline could not end (more sockets than the list holds) is not let through
         * as a success that came too late. */
        if (NT_STATUS_IS_OK(status) && (sockets.expired || sockets.overflowed))
            status = NT_STATUS_IO_TIMEOUT;
    }
    wipe_password(credentials);
    if (!NT_STATUS_IS_OK(status)) {
        talloc_free(memory);
        return NT_STATUS_V(status);
    }
    dcerpc_binding_handle_set_timeout(client->pipe->binding_handle, options->call_timeout_seconds);

    TALLOC_CTX *scratch = talloc_new(memory);
    struct ndr_push *request = ndr_push_init_ctx(scratch);
    DATA_BLOB answer;
    if (request == NULL || !NDR_ERR_CODE_IS_SUCCESS(ndr_push_unique_ptr(request, NULL)) ||
        !NDR_ERR_CODE_IS_SUCCESS(ndr_push_uint32(request, NDR_SCALARS, MAXIMUM_ALLOWED)))
        status = NT_STATUS_NO_MEMORY;
    else
        status = call(client, OPNUM_OPEN_HKPD, request, scratch, &answer, 0);
    if (NT_STATUS_IS_OK(status))
        status = pull_handle_answer(answer, scratch, &client->key, werror);
    talloc_free(scratch);
    if (!NT_STATUS_IS_OK(status) || *werror != 0) {
        talloc_free(memory);
        return NT_STATUS_V(status);
    }
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
    TALLOC_CTX *scratch = talloc_new(client->memory);
    struct ndr_push *request = scratch != NULL ? ndr_push_init_ctx(scratch) : NULL;
    if (request == NULL) {
        talloc_free(scratch);
        return NT_STATUS_V(NT_STATUS_NO_MEMORY);
    }
    /* hKey, lpValueName, then lpType (REG_NONE), lpData (room for buffer_size bytes, none
     * sent), lpcbData (buffer_size) and lpcbLen (0), each a [unique] pointer. */
    const bool pushed = NDR_ERR_CODE_IS_SUCCESS(ndr_push_policy_handle(request, NDR_SCALARS, &client->key)) &&
                        push_value_name(request, name) &&
                        NDR_ERR_CODE_IS_SUCCESS(ndr_push_unique_ptr(request, type)) &&
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
    NTSTATUS status = call(client, OPNUM_QUERY_VALUE, request, scratch, &answer, buffer_size);
    if (NT_STATUS_IS_OK(status)) {
        struct ndr_pull *pull = ndr_pull_init_blob(&answer, scratch);
        uint32_t referent = 0, size = 0, offset = 0, count = 0, data_length = 0;
        bool ok = pull != NULL && pull_optional_dword(pull, type) &&
                  NDR_ERR_CODE_IS_SUCCESS(ndr_pull_generic_ptr(pull, &referent));
        if (ok && referent != 0) {
            /* The conformant varying array of the data: its size, offset and length. */
            ok = NDR_ERR_CODE_IS_SUCCESS(ndr_pull_uint32(pull, NDR_SCALARS, &size)) &&
                 NDR_ERR_CODE_IS_SUCCESS(ndr_pull_uint32(pull, NDR_SCALARS, &offset)) &&
                 NDR_ERR_CODE_IS_SUCCESS(ndr_pull_uint32(pull, NDR_SCALARS, &count)) && offset == 0 &&
                 count <= size && count <= buffer_size &&
                 NDR_ERR_CODE_IS_SUCCESS(ndr_pull_array_uint8(pull, NDR_SCALARS, data, count));
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
    TALLOC_CTX *scratch = talloc_new(client->memory);
    struct ndr_push *request = scratch != NULL ? ndr_push_init_ctx(scratch) : NULL;
    DATA_BLOB answer;
    struct policy_handle closed;
    uint32_t werror = 0;
    if (!client->failed && request != NULL && NDR_ERR_CODE_IS_SUCCESS(ndr_push_policy_handle(request, NDR_SCALARS, &client->key)) &&
        NT_STATUS_IS_OK(call(client, OPNUM_CLOSE_KEY, request, scratch, &answer, 0)))
        (void)pull_handle_answer(answer, scratch, &closed, &werror);
    talloc_free(client->memory);
}

uint32_t winreg_client_open(const struct winreg_connect_options *options, winreg_client **out, uint32_t *werror)
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

uint32_t winreg_ntstatus_to_win32(uint32_t ntstatus)
{
    return W_ERROR_V(ntstatus_to_werror(NT_STATUS(ntstatus)));
}
