/* One caller at a time in Samba's client libraries. Plain C, for the C shims and C++ alike. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

/* Samba's client libraries keep a call's scratch state once for the whole process: whoever calls
 * into them (libsmbclient included) does so between these two, from any thread. */
void samba_calls_enter(void);
void samba_calls_leave(void);

#ifdef __cplusplus
}
#endif
