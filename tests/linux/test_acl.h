// Files as the service manager gives credentials (root's, read by another user through an ACL
// entry), and that other user to read them as.
#pragma once

#include <sys/acl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

// Gives path the access ACL written in acl(5)'s text form ("u::r,u:4243:r,g::-,m::r,o::-").
inline bool SetTestAcl(const std::string& path, const std::string& text)
{
    const acl_t acl = acl_from_text(text.c_str());
    if (acl == nullptr)
        return false;
    const bool ok = acl_set_file(path.c_str(), ACL_TYPE_ACCESS, acl) == 0;
    acl_free(acl);
    return ok;
}

// While it lives, this process acts as user uid (its effective user; its groups stay root's).
// Needs root.
class AsUser {
public:
    explicit AsUser(uid_t uid) : m_ok(seteuid(uid) == 0) {}
    ~AsUser()
    {
        if (m_ok && seteuid(0) != 0)
            std::abort();
    }
    AsUser(const AsUser&) = delete;
    AsUser& operator=(const AsUser&) = delete;
    bool ok() const { return m_ok; }

private:
    bool m_ok;
};
