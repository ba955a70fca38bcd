#include "platform/linux/samba/samba_calls.h"

#include <pthread.h>

/* Samba's client libraries, as Debian builds them, keep the scratch state of a call (the talloc
 * stack frames of their synchronous calls) once for the whole process: two calls at once on two
 * threads free each other's frames. Every call into them takes this lock first. The Remote
 * Registry's client (remote/winreg_client.c) lets it go while its event loop waits on the network
 * (a trace point of its event context marks the wait), holding no stack frame then: its calls run
 * on the asynchronous interfaces, so a silent server holds only the thread that waits on it. */
static pthread_mutex_t samba_lock = PTHREAD_MUTEX_INITIALIZER;

void samba_calls_enter(void)
{
    pthread_mutex_lock(&samba_lock);
}

void samba_calls_leave(void)
{
    pthread_mutex_unlock(&samba_lock);
}
