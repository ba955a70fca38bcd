#include "platform/linux/probe/linux_probe_environment.h"

#include <acl/libacl.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <sys/acl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <limits>
#include <string>
#include <system_error>

#include "framework/secret_text.h"

namespace {

constexpr int kInterruptSignals[] = { SIGINT, SIGTERM, SIGHUP };
// A password is one line; anything longer than this is not one.
constexpr std::size_t kMaxPasswordBytes = 4096;

volatile sig_atomic_t g_interrupted = 0;
// Written to by the signal handler, so that a wait sees an interrupt that came just before it.
int g_interruptPipe[2] = { -1, -1 };

void OnInterrupt(int)
{
    const int saved = errno;
    g_interrupted = 1;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_interruptPipe[1], &byte, 1);
    errno = saved;
}

bool WriteAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// The password is read before anything else is done with it: from then on the process holds it
// (here, in the libraries' copies, in freed memory), so it makes no core dump and the user's
// other processes cannot attach to it or read its memory. PR_SET_DUMPABLE rather than marking
// pages MADV_DONTDUMP: the copies are spread over the heap of Samba's libraries, talloc and the
// NTLM code, where no page can be marked. It holds until the process ends.
void KeepOutOfCoreDumps()
{
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

// The first line of fd, without its line end ("\n" or "\r\n"); false with the reason when it
// cannot be read or is longer than a password. gotInput: whether fd held anything at all. The
// line's buffer is reserved once for the longest password, so it never moves, and is wiped on
// every failure.
bool ReadLine(int fd, std::string& line, bool& gotInput, std::string& error)
{
    PrepareSecretText(line, kMaxPasswordBytes + 1);
    gotInput = false;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0) {
            error =
                errno == EINTR ? "interrupted" : std::string("cannot read: ") + std::generic_category().message(errno);
            WipeText(line);
            return false;
        }
        if (n == 0)
            break;
        gotInput = true;
        if (c == '\n')
            break;
        if (line.size() == kMaxPasswordBytes) {
            WipeText(line);
            explicit_bzero(&c, sizeof c);
            error = "the first line is longer than " + std::to_string(kMaxPasswordBytes) + " bytes";
            return false;
        }
        line += c;
        explicit_bzero(&c, sizeof c);
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

// Shows prompt on the terminal fd and reads a line with the echo off; the terminal's settings
// are put back whatever happens.
bool ReadWithoutEcho(int fd, const std::string& prompt, std::string& line, std::string& error)
{
    termios saved{};
    if (tcgetattr(fd, &saved) != 0) {
        error = std::string("cannot use the terminal: ") + std::generic_category().message(errno);
        return false;
    }
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
    quiet.c_lflag |= ICANON;
    bool ok = tcsetattr(fd, TCSAFLUSH, &quiet) == 0 && WriteAll(fd, prompt);
    bool gotInput = false;
    if (ok)
        ok = ReadLine(fd, line, gotInput, error);
    else
        error = std::string("cannot use the terminal: ") + std::generic_category().message(errno);
    tcsetattr(fd, TCSAFLUSH, &saved);
    // The line end the user typed was not echoed.
    WriteAll(fd, "\n");
    return ok;
}

// The line as the password, converted straight into password's own heap buffer; the line is
// wiped.
bool ToPassword(std::string& line, CString& password)
{
    PrepareSecretText(password, line.size());
    AppendUtf8AsUtf16(password, line);
    WipeText(line);
    return true;
}

} // namespace

LinuxProbeEnvironment::LinuxProbeEnvironment(const char* ttyPath) : m_ttyPath(ttyPath)
{
    g_interrupted = 0;
    if (pipe2(g_interruptPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        g_interruptPipe[0] = g_interruptPipe[1] = -1;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a wait or a prompt returns at once. The first signal asks the probe to end
    // cleanly; the second, should that take too long, ends the process as the default does.
    action.sa_flags = SA_RESETHAND;
    for (std::size_t i = 0; i < std::size(kInterruptSignals); ++i)
        sigaction(kInterruptSignals[i], &action, &m_previous[i]);
    // A closed pipe makes the write fail, so the probe says so and closes its connections.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &m_previousPipe);
}

LinuxProbeEnvironment::~LinuxProbeEnvironment()
{
    for (std::size_t i = 0; i < std::size(kInterruptSignals); ++i)
        sigaction(kInterruptSignals[i], &m_previous[i], nullptr);
    sigaction(SIGPIPE, &m_previousPipe, nullptr);
    for (int& fd : g_interruptPipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

bool LinuxProbeEnvironment::WriteOut(std::string_view text)
{
    return WriteAll(STDOUT_FILENO, text);
}

void LinuxProbeEnvironment::WriteErr(std::string_view text)
{
    WriteAll(STDERR_FILENO, text);
}

bool LinuxProbeEnvironment::OutputIsTerminal()
{
    return isatty(STDOUT_FILENO) == 1;
}

bool LinuxProbeEnvironment::PromptPassword(const CString& prompt, CString& password, std::string& error)
{
    KeepOutOfCoreDumps();
    const int tty = ::open(m_ttyPath, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0 || !isatty(tty)) {
        if (tty >= 0)
            ::close(tty);
        error = "there is no terminal to ask for the password on";
        return false;
    }
    std::string line;
    const bool ok = ReadWithoutEcho(tty, prompt.ToUtf8(), line, error);
    ::close(tty);
    return ok && ToPassword(line, password);
}

bool LinuxProbeEnvironment::ReadPasswordFromInput(CString& password, std::string& error)
{
    KeepOutOfCoreDumps();
    std::string line;
    bool gotInput = true;
    // Typed at a terminal, it is not shown either.
    const bool ok = isatty(STDIN_FILENO) ? ReadWithoutEcho(STDIN_FILENO, "", line, error)
                                         : ReadLine(STDIN_FILENO, line, gotInput, error);
    if (!ok) {
        error = "standard input: " + error;
        return false;
    }
    // An empty line is an empty password; no line at all is none.
    if (!gotInput) {
        error = "standard input holds no password";
        return false;
    }
    return ToPassword(line, password);
}

bool LinuxProbeEnvironment::ReadPasswordFile(const CString& path, CString& password, std::string& error)
{
    return ReadSecretFile(path, false, password, error);
}

bool LinuxProbeEnvironment::ReadCredentialFile(const CString& path, CString& password, std::string& error)
{
    return ReadSecretFile(path, true, password, error);
}

namespace {

// Whether the file's access ACL lets its owner and this process's user read it and no one else:
// the form of a credential the service manager writes as root for another user.
bool ReadableByOwnerAndThisUserAlone(int fd)
{
    const acl_t acl = acl_get_fd(fd);
    if (acl == nullptr)
        return false;
    bool ok = true;
    bool thisUser = false;
    acl_entry_t entry = nullptr;
    for (int which = ACL_FIRST_ENTRY; ok && acl_get_entry(acl, which, &entry) == 1; which = ACL_NEXT_ENTRY) {
        acl_tag_t tag = ACL_UNDEFINED_TAG;
        acl_permset_t permissions = nullptr;
        if (acl_get_tag_type(entry, &tag) != 0 || acl_get_permset(entry, &permissions) != 0) {
            ok = false;
            break;
        }
        const bool any = acl_get_perm(permissions, ACL_READ) != 0 || acl_get_perm(permissions, ACL_WRITE) != 0 ||
                         acl_get_perm(permissions, ACL_EXECUTE) != 0;
        if (tag == ACL_USER) {
            auto* const uid = static_cast<uid_t*>(acl_get_qualifier(entry));
            const bool self = uid != nullptr && *uid == geteuid();
            ok = self || !any;
            thisUser = thisUser || (self && acl_get_perm(permissions, ACL_READ) == 1);
            acl_free(uid);
        } else if (tag == ACL_GROUP_OBJ || tag == ACL_GROUP || tag == ACL_OTHER) {
            ok = !any;
        }
        // The owner's entry is the mode's; the mask only bounds the others.
    }
    acl_free(acl);
    return ok && thisUser;
}

// Why the file name, open as fd, whose status is st, is not a credential as the service manager
// writes one for this process; empty when it is.
std::string CredentialProblem(int fd, const struct stat& st, const std::string& name)
{
    // The service manager writes a credential read-only (0400) as root and lets the service's
    // user read it through an ACL entry of that user alone (whose mask shows as the group's read
    // bit), or gives it to that user where the file system has no ACLs. Anything else is not a
    // credential it wrote.
    const bool root = st.st_uid == 0;
    if (st.st_uid != geteuid() && !root)
        return "the credential " + name + " belongs to another user";
    if ((st.st_mode & (S_IWGRP | S_IXGRP | S_IRWXO | S_ISUID | S_ISGID | S_ISVTX)) != 0 ||
        ((st.st_mode & S_IRGRP) != 0 && (!root || !ReadableByOwnerAndThisUserAlone(fd))))
        return "the credential " + name + " can be read or changed by others than this service";
    if ((st.st_mode & (S_IWUSR | S_IXUSR)) != 0)
        return "the credential " + name + " is not read-only (mode 0400) as the service manager gives it";
    return std::string();
}

} // namespace

int LinuxProbeEnvironment::OpenSecretFile(const std::string& path, const std::string& what, bool credential,
                                          std::string& error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        error = "cannot open the " + what + " " + path + ": " + std::generic_category().message(errno);
        return -1;
    }
    // The checks are made on the file that was opened, not again on its name.
    struct stat st {};
    if (fstat(fd, &st) != 0)
        error = "cannot read the " + what + " " + path + ": " + std::generic_category().message(errno);
    else if (!S_ISREG(st.st_mode))
        error = "the " + what + " " + path + " is not a regular file";
    else if (credential)
        error = CredentialProblem(fd, st, path);
    else if (st.st_uid != geteuid())
        error = "the " + what + " " + path + " belongs to another user; it must be yours";
    else if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        error = "the " + what + " " + path +
                " can be read or changed by others than its owner; make it yours alone (chmod 600 " + path + ")";
    else
        error.clear();
    if (!error.empty()) {
        ::close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool LinuxProbeEnvironment::ReadSecretFile(const CString& path, bool credential, CString& password, std::string& error)
{
    KeepOutOfCoreDumps();
    const std::string name = path.ToUtf8();
    const int fd = OpenSecretFile(name, "password file", credential, error);
    if (fd < 0)
        return false;
    std::string line;
    bool gotInput = false;
    const bool ok = ReadLine(fd, line, gotInput, error);
    if (!ok)
        error = "the password file " + name + ": " + error;
    ::close(fd);
    return ok && ToPassword(line, password);
}

LocalTime LinuxProbeEnvironment::Now()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    LocalTime t;
    t.year = local.tm_year + 1900;
    t.month = local.tm_mon + 1;
    t.day = local.tm_mday;
    t.hour = local.tm_hour;
    t.minute = local.tm_min;
    t.second = local.tm_sec;
    t.millisecond = static_cast<int>(now.tv_nsec / 1000000);
    t.utcOffsetMinutes = static_cast<int>(local.tm_gmtoff / 60);
    t.zoneName = local.tm_zone != nullptr ? local.tm_zone : "";
    return t;
}

std::int64_t LinuxProbeEnvironment::MonotonicMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void LinuxProbeEnvironment::Wait(std::uint32_t milliseconds)
{
    // The interrupt's pipe turns readable for good: the wait ends at once, also when the signal
    // came before it began. The caller looks at Interrupted.
    pollfd interrupt{ g_interruptPipe[0], POLLIN, 0 };
    const int timeout = static_cast<int>(std::min<std::uint32_t>(milliseconds, std::numeric_limits<int>::max()));
    poll(&interrupt, g_interruptPipe[0] >= 0 ? 1 : 0, timeout);
}

bool LinuxProbeEnvironment::Interrupted()
{
    return g_interrupted != 0;
}
