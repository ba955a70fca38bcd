#include "platform/linux/samba_client_lock.h"

std::recursive_mutex& SambaClientMutex()
{
    static std::recursive_mutex mutex;
    return mutex;
}
