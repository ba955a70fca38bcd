/* An RPC connection to another machine (a named pipe over SMB, or TCP) through Samba's libdcerpc,
 * for the C shims that speak an interface over it (remote/winreg_client.c, samba/smb_logon.c,
 * replication/drsuapi_client.c). Every function here is called
 * between samba_calls_enter and samba_calls_leave; while the pipe's own event loop waits on the
 * network it lets go of them (samba_calls.c), so a silent server holds only its own caller. */
#pragma once

#include <stdbool.h>
#include <stdint.h>
#include <talloc.h>
#include <tevent.h>

#include <core/error.h>
#include <dcerpc.h>

#include "platform/linux/samba/samba_calls.h"

struct samba_pipe {
    TALLOC_CTX *memory;            /* everything of the connection: freeing it ends the connection */
    struct tevent_context *events; /* the connection's own */
    struct dcerpc_pipe *pipe;
    bool failed; /* an exchange failed: the connection is not to be used again */
};

/* Logs on to the machine and opens the pipe of interface at endpoint ("\\pipe\\winreg"), all
 * within options->connect_timeout_ms: NT_STATUS_IO_TIMEOUT when that passed first. The password
 * is wiped from Samba's credentials once the logon is made. */
NTSTATUS samba_pipe_open(const struct samba_connect_options *options, const struct ndr_interface_table *interface,
                         const char *endpoint, struct samba_pipe **pipe);

/* The same over TCP (the server's endpoint mapper gives the interface's port) with packet
 * privacy: every packet signed and sealed, which some interfaces (DRSUAPI) require. */
NTSTATUS samba_pipe_open_tcp(const struct samba_connect_options *options, const struct ndr_interface_table *interface,
                             struct samba_pipe **pipe);

/* One call: the request's bytes out, the answer's bytes back (allocated on memory). An answer
 * longer than data_room bytes of data and a margin for the call's own fields ends the call and
 * the connection as it arrives. */
NTSTATUS samba_pipe_call(struct samba_pipe *pipe, uint32_t opnum, struct ndr_push *request, TALLOC_CTX *memory,
                         DATA_BLOB *answer, uint32_t data_room);

/* Ends the connection (no call is made) and frees the pipe. */
void samba_pipe_free(struct samba_pipe *pipe);
