/* The rule of every call into Samba's client libraries, in one place.
 *
 * The libraries, as Debian builds them, keep the scratch state of a call (the talloc stack frames
 * of their synchronous parts) once for the whole process: a frame made on one thread becomes the
 * parent of the next one made on any thread, and freeing it frees the other's. So one thread at a
 * time runs their code, under samba_lock. A connection never waits on the network with the lock
 * held: it runs on an event context of its own, made here, whose trace point lets the lock go for
 * the wait of the connection's own loop (depth 1), where no frame of the libraries is held, and
 * takes it again before any handler runs. A loop the libraries nest inside one of their handlers
 * (the Kerberos exchange with a KDC) holds their frames, so it keeps the lock: that wait is
 * bounded apart, to KDC_WAIT_MS for all the KDC exchanges of a connection. Nothing else calls
 * into the libraries in a way that waits: SMB logons go through samba_pipe_open too (smb_logon.c). */
#include "platform/linux/samba/samba_pipe.h"

#include <krb5.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>

#include <credentials.h>
#include <param.h>

static pthread_mutex_t samba_lock = PTHREAD_MUTEX_INITIALIZER;

void samba_calls_enter(void)
{
    pthread_mutex_lock(&samba_lock);
}

void samba_calls_leave(void)
{
    pthread_mutex_unlock(&samba_lock);
}

enum {
    /* What an answer holds besides the data asked for: the fixed fields of an answer with room to
     * spare. */
    ANSWER_MARGIN = 64 * 1024,
    /* The KDC exchanges of one connection together, which keep the lock while they wait. A KDC
     * that answers takes a few milliseconds; one that does not holds every caller this long, once
     * per connection attempt. */
    KDC_WAIT_MS = 1000,
};

/* The connection's own timers are Samba's, a minute for SMB and DCERPC alike: a server that takes
 * the TCP connection and then never answers would hold the caller that long. So the connection
 * runs on an event context whose backend notes every descriptor the connection waits on (its
 * sockets to the server, and to a KDC); at the end of the time allowed they are shut down, which
 * ends every wait on them at once with the connection reset. Only descriptors this connection
 * watches are touched, whatever their number, never another connection's. */
enum { MAX_WATCHED = 16 };

struct watch_entry;

struct connection_state {
    int loop_depth; /* the connection's loops running on this thread, nested ones included */
};

struct watched_sockets {
    struct watch_entry *entries[MAX_WATCHED];
    size_t count;
    bool overflowed; /* more descriptors than the list holds: the deadline ends the wait instead */
    bool expired;
    const struct connection_state *state;
    bool kdc_started; /* a socket was opened inside a nested loop: kdc_end is set */
    struct timeval kdc_end;
};

/* The list of the connection being made on this thread, while it is made. */
static __thread struct watched_sockets *watching;

static const struct tevent_ops *standard_ops;
static struct tevent_ops watching_ops;
static int initialised_state; /* 1 done, -1 failed */

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

static void kdc_deadline(struct tevent_context *events, struct tevent_timer *timer, struct timeval now, void *data)
{
    struct watch_entry *entry = data;
    (void)events;
    (void)timer;
    (void)now;
    if (entry->sockets != NULL)
        shutdown(entry->fd, SHUT_RDWR);
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
    /* A socket opened inside one of the connection's handlers is waited on by a nested loop, with
     * the lock held: the KDC's. All of them end together at the KDC's bound. */
    if (sockets->state->loop_depth > 1) {
        if (!sockets->kdc_started) {
            sockets->kdc_started = true;
            sockets->kdc_end = timeval_current_ofs(KDC_WAIT_MS / 1000, (KDC_WAIT_MS % 1000) * 1000);
        }
        if (tevent_add_timer(ev, entry, sockets->kdc_end, kdc_deadline, entry) == NULL)
            shutdown(fd, SHUT_RDWR);
    }
    return fde;
}

/* Once for the process, whichever thread comes first: the libraries' registrations and the event
 * backend's table (the "poll" backend with its add_fd noting descriptors), which a thread must
 * not see half made. */
static void initialise(void)
{
    standard_ops = tevent_find_ops_byname("poll");
    if (standard_ops != NULL) {
        watching_ops = *standard_ops;
        watching_ops.add_fd = watching_add_fd;
    }
    initialised_state = standard_ops != NULL && NT_STATUS_IS_OK(dcerpc_init()) ? 1 : -1;
}

static bool initialised(void)
{
    static pthread_once_t once = PTHREAD_ONCE_INIT;
    pthread_once(&once, initialise);
    return initialised_state == 1;
}

/* The lock is let go only for the wait of the connection's own loop, never for a loop nested in
 * one of the libraries' handlers, which may be in the middle of their state. */
static void unlocked_while_waiting(enum tevent_trace_point point, void *private_data)
{
    struct connection_state *state = private_data;
    switch (point) {
    case TEVENT_TRACE_BEFORE_LOOP_ONCE:
        ++state->loop_depth;
        break;
    case TEVENT_TRACE_AFTER_LOOP_ONCE:
        --state->loop_depth;
        break;
    case TEVENT_TRACE_BEFORE_WAIT:
        if (state->loop_depth == 1)
            samba_calls_leave();
        break;
    case TEVENT_TRACE_AFTER_WAIT:
        if (state->loop_depth == 1)
            samba_calls_enter();
        break;
    default:
        break;
    }
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
                                                const struct samba_connect_options *options)
{
    struct cli_credentials *credentials = cli_credentials_init(memory);
    const char *error = NULL;
    if (credentials == NULL || !cli_credentials_set_conf(credentials, lp))
        return NULL;
    switch (options->logon) {
    case SAMBA_LOGON_PASSWORD: {
        const char *user = options->user;
        const char *backslash = strchr(user, '\\');
        if (backslash != NULL) {
            char *domain = talloc_strndup(memory, user, (size_t)(backslash - user));
            if (domain == NULL || !cli_credentials_set_domain(credentials, domain, CRED_SPECIFIED))
                return NULL;
            user = backslash + 1;
        } else if (strchr(user, '@') != NULL && !cli_credentials_set_domain(credentials, "", CRED_SPECIFIED)) {
            /* "user@dns.domain" names its domain itself: NTLMSSP sends it with an empty domain. */
            return NULL;
        }
        if (!cli_credentials_set_username(credentials, user, CRED_SPECIFIED) ||
            !cli_credentials_set_password(credentials, options->password, CRED_SPECIFIED) ||
            !cli_credentials_set_kerberos_state(credentials, CRED_USE_KERBEROS_DISABLED, CRED_SPECIFIED))
            return NULL;
        return credentials;
    }
    case SAMBA_LOGON_OWN_TICKET:
        if (have_ticket())
            return cli_credentials_set_ccache(credentials, lp, NULL, CRED_SPECIFIED, &error) == 0 &&
                           cli_credentials_set_kerberos_state(credentials, CRED_USE_KERBEROS_REQUIRED, CRED_SPECIFIED)
                       ? credentials
                       : NULL;
        cli_credentials_set_anonymous(credentials);
        return credentials;
    case SAMBA_LOGON_TICKET_CACHE:
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

/* The connection named by binding_format: its first %s is the server's address, its second (when
 * it has one) the endpoint. */
static NTSTATUS open_binding(const struct samba_connect_options *options, const struct ndr_interface_table *interface,
                             const char *binding_format, const char *endpoint, struct samba_pipe **out)
{
    *out = NULL;
    if (!initialised())
        return NT_STATUS_INTERNAL_ERROR;
    TALLOC_CTX *memory = talloc_new(NULL);
    struct samba_pipe *pipe = memory != NULL ? talloc_zero(memory, struct samba_pipe) : NULL;
    struct connection_state *state = memory != NULL ? talloc_zero(memory, struct connection_state) : NULL;
    struct tevent_context *events = memory != NULL ? tevent_context_init_ops(memory, &watching_ops, NULL) : NULL;
    struct loadparm_context *lp = memory != NULL ? loadparm_init(memory) : NULL;
    if (pipe == NULL || state == NULL || events == NULL || lp == NULL) {
        talloc_free(memory);
        return NT_STATUS_NO_MEMORY;
    }
    pipe->memory = memory;
    pipe->events = events;
    tevent_set_trace_callback(events, unlocked_while_waiting, state);
    /* No configuration file is read: names are looked up through the system resolver only (no
     * NetBIOS broadcasts or WINS). */
    lpcfg_set_cmdline(lp, "name resolve order", "host");
    if (options->port != 0) {
        char port[8];
        snprintf(port, sizeof port, "%u", (unsigned)options->port);
        lpcfg_set_cmdline(lp, "smb ports", port);
    }
    struct cli_credentials *credentials = make_credentials(memory, lp, options);
    struct dcerpc_binding *binding = NULL;
    char *text = talloc_asprintf(memory, binding_format, options->server, endpoint);
    if (credentials == NULL || text == NULL) {
        if (credentials != NULL)
            wipe_password(credentials);
        talloc_free(memory);
        /* A ticket cache that could not be read holds no logon to make. */
        return credentials == NULL && options->logon == SAMBA_LOGON_TICKET_CACHE ? NT_STATUS_NO_SUCH_LOGON_SESSION
                                                                                 : NT_STATUS_NO_MEMORY;
    }
    NTSTATUS status = dcerpc_parse_binding(memory, text, &binding);
    if (NT_STATUS_IS_OK(status) && options->target_name != NULL)
        status = dcerpc_binding_set_string_option(binding, "target_hostname", options->target_name);
    if (NT_STATUS_IS_OK(status)) {
        struct watched_sockets sockets = { .count = 0, .state = state };
        struct tevent_timer *deadline =
            tevent_add_timer(events, memory,
                             timeval_current_ofs(options->connect_timeout_ms / 1000,
                                                 (options->connect_timeout_ms % 1000) * 1000),
                             connect_deadline, &sockets);
        watching = &sockets;
        status = deadline == NULL
                     ? NT_STATUS_NO_MEMORY
                     : dcerpc_pipe_connect_b(memory, &pipe->pipe, binding, interface, credentials, events, lp);
        watching = NULL;
        stop_watching(&sockets);
        if (!sockets.expired)
            talloc_free(deadline); /* a timer that fired is freed by tevent */
        /* The sockets shut down at the deadline fail the connection as reset; a wait the deadline
         * could not end (more sockets than the list holds) is not let through as a success that
         * came too late. */
        if (sockets.expired || (NT_STATUS_IS_OK(status) && sockets.overflowed))
            status = NT_STATUS_IO_TIMEOUT;
    }
    wipe_password(credentials);
    if (!NT_STATUS_IS_OK(status)) {
        talloc_free(memory);
        return status;
    }
    dcerpc_binding_handle_set_timeout(pipe->pipe->binding_handle, options->call_timeout_seconds);
    *out = pipe;
    return NT_STATUS_OK;
}

NTSTATUS samba_pipe_open(const struct samba_connect_options *options, const struct ndr_interface_table *interface,
                         const char *endpoint, struct samba_pipe **pipe)
{
    return open_binding(options, interface, "ncacn_np:%s[%s]", endpoint, pipe);
}

NTSTATUS samba_pipe_open_tcp(const struct samba_connect_options *options, const struct ndr_interface_table *interface,
                             struct samba_pipe **pipe)
{
    /* The endpoint mapper names the port; every packet signed and sealed. */
    return open_binding(options, interface, "ncacn_ip_tcp:%s[seal]", NULL, pipe);
}

NTSTATUS samba_pipe_call(struct samba_pipe *pipe, uint32_t opnum, struct ndr_push *request, TALLOC_CTX *memory,
                         DATA_BLOB *answer, uint32_t data_room)
{
    /* libdcerpc would otherwise put together up to DCERPC_NCACN_RESPONSE_DEFAULT_MAX_SIZE (240 MiB)
     * of fragments before the caller could look at them. */
    pipe->pipe->conn->max_total_response_size = (size_t)data_room + ANSWER_MARGIN;
    const DATA_BLOB in = ndr_push_blob(request);
    uint8_t *out = NULL;
    size_t out_length = 0;
    uint32_t out_flags = 0;
    /* The request and its wait on the connection's own context, with no stack frame of the
     * libraries' synchronous call held across the wait. */
    struct tevent_req *sent = dcerpc_binding_handle_raw_call_send(memory, pipe->events, pipe->pipe->binding_handle,
                                                                  NULL, opnum, 0, in.data, in.length);
    NTSTATUS status = NT_STATUS_NO_MEMORY;
    if (sent != NULL)
        status = tevent_req_poll(sent, pipe->events)
                     ? dcerpc_binding_handle_raw_call_recv(sent, memory, &out, &out_length, &out_flags)
                     : NT_STATUS_INTERNAL_ERROR;
    talloc_free(sent);
    *answer = data_blob_const(out, out_length);
    if (!NT_STATUS_IS_OK(status))
        pipe->failed = true;
    return status;
}

void samba_pipe_free(struct samba_pipe *pipe)
{
    if (pipe != NULL)
        talloc_free(pipe->memory);
}

uint32_t samba_ntstatus_to_win32(uint32_t ntstatus)
{
    return W_ERROR_V(ntstatus_to_werror(NT_STATUS(ntstatus)));
}
