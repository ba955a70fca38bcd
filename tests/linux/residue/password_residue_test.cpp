// Where a password is left once the program is done with it. This test program replaces the
// allocator's operator new and delete: while a password is watched, every block given back is
// searched for it (in UTF-8 and UTF-16, any eight characters of it in a row), and the work runs
// on a thread whose stack is a buffer of ours, searched the same way once the thread has ended
// (the short-string buffers of strings moved and copied on the stack stay there).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <malloc.h>
#include <pthread.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <new>

#include "framework/secret_text.h"
#include "platform/linux/directory/linux_directory_service.h"
#include "platform/linux/directory/smb_network_connector.h"
#include "platform/linux/probe/linux_probe_environment.h"
#include "platform/linux/samba/credential_registry.h"
#include "probe/probe_main.h"
#include "tests/fakes/fake_services.h"
#include "tests/linux/test_support.h"

namespace {

constexpr std::size_t kMaxSecretBytes = 256;
constexpr std::size_t kWindowChars = 8;

struct Watch {
    std::atomic<bool> armed{ false };
    unsigned char utf8[kMaxSecretBytes];
    std::size_t utf8Size = 0;
    unsigned char utf16[kMaxSecretBytes];
    std::size_t utf16Size = 0;
    std::atomic<int> freedBlocksHolding{ 0 };
    std::atomic<std::size_t> lastBlockSize{ 0 };
};
Watch g_watch;

// Whether bytes hold a run of kWindowChars characters of the secret, or of all but two of a
// shorter one (at least four): a part of a password left behind is as bad as the whole, and a
// string moved from keeps all of its text but the first character.
bool HoldsPart(const unsigned char* bytes, std::size_t size, const unsigned char* secret, std::size_t secretSize,
               std::size_t unit)
{
    const std::size_t chars = secretSize / unit;
    const std::size_t allButTwo = chars > 2 ? chars - 2 : 0;
    const std::size_t window = std::min(chars, std::max<std::size_t>(4, std::min(kWindowChars, allButTwo))) * unit;
    if (window == 0)
        return false;
    for (std::size_t start = 0; start + window <= secretSize; start += unit) {
        if (memmem(bytes, size, secret + start, window) != nullptr)
            return true;
    }
    return false;
}

bool HoldsSecret(const void* bytes, std::size_t size)
{
    const auto* p = static_cast<const unsigned char*>(bytes);
    return HoldsPart(p, size, g_watch.utf8, g_watch.utf8Size, 1) ||
           HoldsPart(p, size, g_watch.utf16, g_watch.utf16Size, 2);
}

void Inspect(void* block)
{
    if (block == nullptr || !g_watch.armed.load(std::memory_order_acquire))
        return;
    const std::size_t size = malloc_usable_size(block);
    if (HoldsSecret(block, size)) {
        ++g_watch.freedBlocksHolding;
        g_watch.lastBlockSize = size;
    }
}

void* Allocate(std::size_t size)
{
    if (void* block = std::malloc(size == 0 ? 1 : size))
        return block;
    throw std::bad_alloc();
}

// The secret as it will be looked for; set before the watch is armed.
void SetSecret(const CString& secret)
{
    const std::string utf8 = secret.ToUtf8();
    ASSERT_LE(utf8.size(), kMaxSecretBytes);
    ASSERT_LE(secret.size() * 2, kMaxSecretBytes);
    memcpy(g_watch.utf8, utf8.data(), utf8.size());
    g_watch.utf8Size = utf8.size();
    memcpy(g_watch.utf16, secret.data(), secret.size() * 2);
    g_watch.utf16Size = secret.size() * 2;
    g_watch.freedBlocksHolding = 0;
}

struct Residue {
    int freedBlocks = 0;       // blocks given back that held the secret
    std::size_t lastBlock = 0; // the size of the last of them
    bool onTheStack = false;   // whether the work's stack held it when the work was done
};

void* RunWork(void* work)
{
    (*static_cast<const std::function<void()>*>(work))();
    return nullptr;
}

// Runs work with the watch armed, on a thread whose stack is a zeroed buffer searched after the
// thread has ended. withStack false: the stack is not searched (the libraries' own frames, such
// as Samba's NTLMSSP buffers, are not ours to clear).
Residue Watched(const std::function<void()>& work, bool withStack = true)
{
    constexpr std::size_t kStackBytes = 1 << 20;
    void* stack = std::aligned_alloc(4096, kStackBytes);
    memset(stack, 0, kStackBytes);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstack(&attributes, stack, kStackBytes);
    g_watch.freedBlocksHolding = 0;
    g_watch.armed.store(true, std::memory_order_release);
    pthread_t thread;
    const bool started = pthread_create(&thread, &attributes, RunWork, const_cast<std::function<void()>*>(&work)) == 0;
    if (started)
        pthread_join(thread, nullptr);
    g_watch.armed.store(false, std::memory_order_release);
    pthread_attr_destroy(&attributes);
    EXPECT_TRUE(started);
    Residue residue{ g_watch.freedBlocksHolding.load(), g_watch.lastBlockSize.load(), false };
    residue.onTheStack = withStack && HoldsSecret(stack, kStackBytes);
    explicit_bzero(stack, kStackBytes);
    std::free(stack);
    return residue;
}

// Passwords of every storage: short enough for the inline buffers of both string types, for
// that of the UTF-8 string only, and longer than both (with characters of two and three bytes).
const CString kPasswords[] = { u"Pw3x!q", u"Pw3x!qZ9#kLm", u"Lq8#vN2$wR5%tY7^uI0&oP3*aS6(dF9)gH1_jK4\u00e9\u20ac" };

std::string WritePasswordFile(const TempDir& dir, const CString& password)
{
    std::string path = dir.path() + "/password";
    const std::string line = password.ToUtf8() + "\n";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    EXPECT_EQ(write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    close(fd);
    return path;
}

} // namespace

void* operator new(std::size_t size)
{
    return Allocate(size);
}

void* operator new[](std::size_t size)
{
    return Allocate(size);
}

void operator delete(void* block) noexcept
{
    Inspect(block);
    std::free(block);
}

void operator delete[](void* block) noexcept
{
    Inspect(block);
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    Inspect(block);
    std::free(block);
}

void operator delete[](void* block, std::size_t) noexcept
{
    Inspect(block);
    std::free(block);
}

TEST(PasswordResidueTest, TheWatchFindsAPasswordLeftInFreedMemoryAndOnTheStack)
{
    // The test's own instruments: a copy freed unwiped, and one left in a dead stack frame.
    SetSecret(u"Pw3x!qZ9#kLm");
    const Residue freed = Watched([] { delete new std::string("..Pw3x!qZ9#kLm..", 16); }, false);
    EXPECT_EQ(freed.freedBlocks, 1);
    const Residue stacked = Watched([] {
        volatile char frame[32] = {};
        (void)frame;
        const char text[] = "xxPw3x!qZ9#k";
        for (std::size_t i = 0; i < sizeof text; ++i)
            frame[i] = text[i];
    });
    EXPECT_TRUE(stacked.onTheStack);
    EXPECT_EQ(Watched([] { delete new std::string(64, 'a'); }).freedBlocks, 0);
}

TEST(PasswordResidueTest, TheProbeReadsThePasswordAndLeavesNoCopyBehind)
{
    // The work on the watched thread is the reading alone: the test's own checks come after it,
    // so that they do not overwrite what it left on the stack.
    TempDir dir;
    LinuxProbeEnvironment env("/nonexistent/tty");
    for (const CString& expected : kPasswords) {
        SCOPED_TRACE(expected.size());
        const std::string path = WritePasswordFile(dir, expected);
        const CString pathText = CString::FromUtf8(path);
        SetSecret(expected);
        CString password;
        std::string error;
        bool read = false;
        const Residue fromFile = Watched([&] { read = env.ReadPasswordFile(pathText, password, error); });
        EXPECT_TRUE(read) << error;
        EXPECT_TRUE(password == expected);
        EXPECT_EQ(fromFile.freedBlocks, 0) << "last block of " << fromFile.lastBlock << " bytes";
        EXPECT_FALSE(fromFile.onTheStack);
        WipeText(password);

        const int saved = dup(STDIN_FILENO);
        const int input = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        dup2(input, STDIN_FILENO);
        close(input);
        const Residue fromInput = Watched([&] { read = env.ReadPasswordFromInput(password, error); });
        dup2(saved, STDIN_FILENO);
        close(saved);
        EXPECT_TRUE(read) << error;
        EXPECT_TRUE(password == expected);
        EXPECT_EQ(fromInput.freedBlocks, 0) << "last block of " << fromInput.lastBlock << " bytes";
        EXPECT_FALSE(fromInput.onTheStack);
        WipeText(password);
    }
}

TEST(PasswordResidueTest, CredentialsAreMadeCopiedSharedAndDroppedWithoutCopiesLeft)
{
    for (const CString& password : kPasswords) {
        SCOPED_TRACE(password.size());
        SetSecret(password);
        // The directory's credential handle, made and freed as discovery does.
        LinuxDirectoryService directory;
        DsCredential* credential = nullptr;
        std::uint32_t made = 1;
        const Residue making =
            Watched([&] { made = directory.DsMakePasswordCredentials(u"bob", u"CORP", password, &credential); });
        EXPECT_EQ(made, 0u);
        EXPECT_EQ(making.freedBlocks, 0) << "last block of " << making.lastBlock << " bytes";
        EXPECT_FALSE(making.onTheStack);
        const Residue freeing = Watched([&] { directory.DsFreePasswordCredentials(credential); });
        EXPECT_EQ(freeing.freedBlocks, 0) << "last block of " << freeing.lastBlock << " bytes";
        EXPECT_FALSE(freeing.onTheStack);

        // Credentials made from UTF-8, copied, assigned and shared through the registry, which
        // grows, and all dropped.
        std::string utf8 = password.ToUtf8();
        const Residue sharing = Watched([&] {
            const SmbCredentials original({}, "CORP\\bob", utf8);
            SmbCredentials copy(original);
            SmbCredentials assigned;
            assigned = copy;
            assigned = SmbCredentials({}, "other", "x");
            CredentialRegistry registry;
            std::vector<CredentialRegistry::Id> ids;
            for (const char* machine : { "dc1", "dc2", "dc3", "dc4", "dc5" })
                ids.push_back(registry.Add(machine, original));
            const auto found = registry.Find("DC3");
            made = found && found->credentials.password == original.password ? 0 : 1;
            for (CredentialRegistry::Id id : ids)
                registry.Remove(id);
        });
        WipeText(utf8);
        EXPECT_EQ(made, 0u);
        EXPECT_EQ(sharing.freedBlocks, 0) << "last block of " << sharing.lastBlock << " bytes";
        EXPECT_FALSE(sharing.onTheStack);
    }
}

TEST(PasswordResidueTest, TheProbesConnectionLeavesNoCopyInFreedMemory)
{
    // The whole probe with its Linux environment and connector: the password read from a file and
    // given to a connection that is refused (nothing listens on the port), then wiped. The stack is
    // not searched: Samba's libraries keep the credentials in buffers of their own.
    TempDir dir;
    LinuxProbeEnvironment env("/nonexistent/tty");
    FakeDirectoryService directory;
    FakeCounterSource counters;
    for (const CString& password : kPasswords) {
        SCOPED_TRACE(password.size());
        const std::string path = WritePasswordFile(dir, password);
        SmbNetworkConnector::Options options;
        options.smbPort = UnusedLoopbackPort();
        options.timeoutMs = 5000;
        SmbNetworkConnector network(options);
        ProbeServices services{ directory, network, counters };
        const std::vector<CString> args = { u"-u", u"CORP\\bob", u"--password-file", CString::FromUtf8(path),
                                            u"-f", u"csv",       u"127.0.0.1" };
        SetSecret(password);
        int code = -1;
        const Residue residue = Watched([&] { code = ProbeMain(services, env, u"zeltor-probe", args); }, false);
        EXPECT_EQ(code, probe_exit::kConnectionFailed);
        EXPECT_EQ(residue.freedBlocks, 0) << "last block of " << residue.lastBlock << " bytes";
    }
}
