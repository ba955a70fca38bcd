#include "platform/linux/names/local_host_name.h"

#include <sys/utsname.h>

std::string LocalHostName()
{
    struct utsname u {};
    if (uname(&u) != 0 || u.nodename[0] == '\0')
        return "localhost";
    return u.nodename;
}
