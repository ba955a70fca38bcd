// An auth that logs on with a Kerberos keytab: how the configuration names it, the owner-only rule
// of its file, and what a ticket that cannot be had does to the logons (no KDC here: see
// tests/integration for the controller's).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "directory/win32_error_text.h"
#include "platform/linux/exporter/exporter_config_file.h"
#include "platform/linux/exporter/keytab_ticket.h"
#include "tests/linux/test_acl.h"
#include "tests/linux/test_keytab.h"
#include "tests/linux/test_support.h"

namespace {

std::string Problem(const std::string& text)
{
    ExporterConfig config;
    return ParseExporterConfig(text, &config).value_or("(accepted)");
}

// Counts the connections that got through to it; each is refused as access denied.
class CountingRegistry : public IPerformanceRegistry {
public:
    explicit CountingRegistry(int& opens) : m_opens(opens) {}
    std::uint32_t Open(const std::string&, std::unique_ptr<IPerformanceKey>*) override
    {
        ++m_opens;
        return win32_error::kAccessDenied;
    }

private:
    int& m_opens;
};

} // namespace

TEST(ExporterKeytabConfigTest, AKeytabAuthNamesItsPrincipalAndNothingOfAPassword)
{
    ExporterConfig config;
    ASSERT_FALSE(
        ParseExporterConfig("auths: {k: {keytab: /etc/k.keytab, principal: mon@EXAMPLE.ORG, targets: [dc1]}}\n",
                            &config));
    EXPECT_EQ(config.auths[0].keytab, "/etc/k.keytab");
    EXPECT_EQ(config.auths[0].principal, "mon@EXAMPLE.ORG");
    EXPECT_EQ(config.auths[0].user, "");

    EXPECT_EQ(Problem("auths: {k: {keytab: /k, targets: [h]}}\n"), "auth k: keytab and principal go together");
    EXPECT_EQ(Problem("auths: {k: {principal: m@R, targets: [h]}}\n"), "auth k: keytab and principal go together");
    EXPECT_EQ(Problem("auths: {k: {keytab: /k, principal: m@R, user: u, targets: [h]}}\n"),
              "auth k: a keytab auth names no user, workgroup or password");
    EXPECT_EQ(Problem("auths: {k: {keytab: /k, principal: m@R, password_file: /p, targets: [h]}}\n"),
              "auth k: a keytab auth names no user, workgroup or password");
    for (const char* principal : { "mon", "@R", "mon@", "-mon@R", "mon @R", "mon@R\\n" })
        EXPECT_EQ(Problem(std::string("auths: {k: {keytab: /k, principal: \"") + principal + "\", targets: [h]}}\n"),
                  std::string("auth k: principal \"") + (std::string(principal) == "mon@R\\n" ? "mon@R\n" : principal) +
                      "\" is not name@REALM");
    // Its credentials go to the listed controllers only, as any auth's.
    EXPECT_EQ(Problem("auths: {k: {keytab: /k, principal: m@R}}\n"),
              "auth k lists no targets: its credentials would go nowhere");
    EXPECT_EQ(Problem("auths: {k: {keytab: /k, principal: m@R, pasword_file: /p, targets: [h]}}\n"),
              "line 1: unknown key pasword_file in auth k");
}

TEST(ExporterKeytabConfigTest, AKeytabIsTakenOnlyWhenItIsTheExportersAlone)
{
    ASSERT_EQ(geteuid(), 0u) << "the owners of the files need root";
    TempDir scratch;
    const std::string keytab = scratch.Write("mon.keytab", "not read here");
    std::string error;
    ASSERT_EQ(chmod(keytab.c_str(), 0600), 0);
    EXPECT_TRUE(CheckKeytabFile(keytab, error)) << error;

    ASSERT_EQ(chmod(keytab.c_str(), 0640), 0);
    EXPECT_FALSE(CheckKeytabFile(keytab, error));
    EXPECT_EQ(error, "the keytab " + keytab +
                         " can be read or changed by others than its owner; make it yours alone (chmod 600 " + keytab +
                         ")");
    ASSERT_EQ(chmod(keytab.c_str(), 0600), 0);
    ASSERT_EQ(chown(keytab.c_str(), 4243, static_cast<gid_t>(-1)), 0);
    EXPECT_FALSE(CheckKeytabFile(keytab, error));
    EXPECT_EQ(error, "the keytab " + keytab + " belongs to another user; it must be yours");
    EXPECT_FALSE(CheckKeytabFile(scratch.path(), error));
    EXPECT_EQ(error, "the keytab " + scratch.path() + " is not a regular file");
    EXPECT_FALSE(CheckKeytabFile(scratch.path() + "/none", error));
    EXPECT_EQ(error, "cannot open the keytab " + scratch.path() + "/none: No such file or directory");
}

TEST(ExporterKeytabConfigTest, AKeytabFromTheServiceManagersCredentialsIsNamedAndCheckedAsItWritesThem)
{
    ExporterConfig config;
    ASSERT_FALSE(ParseExporterConfig(
        "auths: {k: {keytab_credential: auth_k.keytab, principal: mon@EXAMPLE.ORG, targets: [dc1]}}\n", &config));
    EXPECT_EQ(config.auths[0].keytabCredential, "auth_k.keytab");
    EXPECT_EQ(config.auths[0].keytab, "");
    EXPECT_EQ(Problem("auths: {k: {keytab: /k, keytab_credential: auth_k, principal: m@R, targets: [h]}}\n"),
              "auth k must name one of keytab and keytab_credential");
    EXPECT_EQ(Problem("auths: {k: {keytab_credential: auth_k, targets: [h]}}\n"),
              "auth k: keytab_credential and principal go together");
    EXPECT_EQ(Problem(
                  "auths: {k: {keytab_credential: auth_k, principal: m@R, password_credential: p, targets: [h]}}\n"),
              "auth k: a keytab auth names no user, workgroup or password");
    EXPECT_EQ(
        Problem("auths: {k: {keytab_credential: ../k, principal: m@R, targets: [h]}}\n"),
        "auth k: keytab_credential \"../k\" is not a credential's name (1 to 64 letters, digits, '_', '-' or '.')");

    ASSERT_EQ(geteuid(), 0u) << "the owners of the files need root";
    TempDir credentials;
    ASSERT_EQ(chmod(credentials.path().c_str(), 0711), 0); // the service's user finds its files
    ExporterAuth auth = config.auths[0];
    std::string path;
    std::string error;
    // The keytab given with mode, owner and an ACL (when not empty), found as the user reader.
    const auto give = [&](mode_t mode, uid_t owner, const std::string& acl = {}, uid_t reader = 0) {
        std::filesystem::remove(credentials.path() + "/auth_k.keytab"); // and its ACL
        const std::string file = credentials.Write("auth_k.keytab", "not read here");
        EXPECT_EQ(chmod(file.c_str(), mode), 0);
        EXPECT_EQ(chown(file.c_str(), owner, static_cast<gid_t>(-1)), 0);
        EXPECT_TRUE(acl.empty() || SetTestAcl(file, acl));
        path.clear();
        const AsUser as(reader);
        EXPECT_TRUE(as.ok());
        return FindAuthKeytab(auth, credentials.path().c_str(), path, error);
    };
    // Outside systemd, or before the service manager wrote it: said so, nothing looked for elsewhere.
    for (const char* none : { static_cast<const char*>(nullptr), "" }) {
        EXPECT_FALSE(FindAuthKeytab(auth, none, path, error));
        EXPECT_EQ(error, "keytab_credential auth_k.keytab: no credentials were given to the exporter "
                         "($CREDENTIALS_DIRECTORY is not set: it is set by systemd's LoadCredential=)");
    }
    const std::string file = credentials.path() + "/auth_k.keytab";
    EXPECT_FALSE(FindAuthKeytab(auth, credentials.path().c_str(), path, error));
    EXPECT_EQ(error, "cannot open the keytab " + file + ": No such file or directory");

    // As the service manager writes it: read-only, root's with an ACL for the service's user (its
    // mask shown as the group's read bit), or the service user's own. The keytab's owner-only rule
    // would refuse the first.
    EXPECT_TRUE(give(0400, 0, "u::r,u:4243:r,g::-,m::r,o::-", 4243)) << error;
    EXPECT_EQ(path, file);
    EXPECT_TRUE(give(0400, 4243, {}, 4243)) << error;
    EXPECT_EQ(path, file);
    // Anything else is not a credential it gave: readable by root's group (this process's), or
    // by another user through the ACL.
    EXPECT_FALSE(give(0440, 0, {}, 4243));
    EXPECT_EQ(error, "the credential " + file + " can be read or changed by others than this service");
    EXPECT_FALSE(give(0400, 0, "u::r,u:4243:r,u:4244:r,g::-,m::r,o::-", 4243));
    EXPECT_EQ(error, "the credential " + file + " can be read or changed by others than this service");
    EXPECT_FALSE(give(0444, 0));
    EXPECT_EQ(error, "the credential " + file + " can be read or changed by others than this service");
    EXPECT_FALSE(give(0460, 0));
    EXPECT_EQ(error, "the credential " + file + " can be read or changed by others than this service");
    EXPECT_FALSE(give(0600, geteuid()));
    EXPECT_EQ(error, "the credential " + file + " is not read-only (mode 0400) as the service manager gives it");
    EXPECT_FALSE(give(0400, 4243));
    EXPECT_EQ(error, "the credential " + file + " belongs to another user");

    // A keytab file keeps its own rule, whatever credentials there are.
    auth.keytabCredential.clear();
    auth.keytab = file;
    EXPECT_EQ(chown(file.c_str(), 0, static_cast<gid_t>(-1)), 0);
    EXPECT_EQ(chmod(file.c_str(), 0440), 0);
    EXPECT_FALSE(FindAuthKeytab(auth, credentials.path().c_str(), path, error));
    EXPECT_EQ(error, "the keytab " + file +
                         " can be read or changed by others than its owner; make it yours alone (chmod 600 " + file +
                         ")");
    EXPECT_EQ(chmod(file.c_str(), 0600), 0);
    EXPECT_TRUE(FindAuthKeytab(auth, nullptr, path, error)) << error;
    EXPECT_EQ(path, file);
}

TEST(ExporterKeytabLogonTest, AKeytabRefusedIsMarkedAndAskedOnceAndAnUnansweredKdcIsAskedAgain)
{
    TempDir scratch;
    // A realm whose KDC listens nowhere (a closed port on loopback, over TCP).
    const std::string config =
        scratch.Write("krb5.conf", "[libdefaults]\n default_realm = NOWHERE.TEST\n dns_lookup_kdc = false\n"
                                   "[realms]\n NOWHERE.TEST = {\n  kdc = tcp/127.0.0.1:1\n }\n");
    const ScopedEnvironment krb5Config("KRB5_CONFIG", config);
    const std::string keytab = scratch.path() + "/mon.keytab";
    ASSERT_TRUE(WriteTestKeytab(keytab, "mon@NOWHERE.TEST"));

    int opens = 0;
    auto unanswered = std::make_shared<KeytabTicket>("mon@NOWHERE.TEST", keytab, scratch.path() + "/unanswered");
    auto missing = std::make_shared<KeytabTicket>("mon@NOWHERE.TEST", scratch.path() + "/none.keytab",
                                                  scratch.path() + "/missing");
    CredentialRegistry credentials;
    SmbCredentials kerberos({}, "mon@NOWHERE.TEST", std::string_view());
    kerberos.ticketCache = unanswered->CacheName();
    const auto unansweredId = credentials.Add("dc1", kerberos);
    kerberos.ticketCache = missing->CacheName();
    const auto missingId = credentials.Add("dc2", kerberos);
    credentials.Add("dc3", SmbCredentials({}, "u", std::string_view("Pa55")));
    std::vector<std::string> log;
    KeytabLogonRegistry registry(std::make_unique<CountingRegistry>(opens),
                                 { { unanswered->CacheName(), unanswered }, { missing->CacheName(), missing } },
                                 credentials, [&](const std::string& line) { log.push_back(line); });
    std::unique_ptr<IPerformanceKey> key;

    // No KDC answers: no logon, nothing marked, and the next connection asks again.
    EXPECT_EQ(registry.Open("dc1", &key), win32_error::kNoLogonServers);
    EXPECT_EQ(registry.Open("dc1", &key), win32_error::kNoLogonServers);
    EXPECT_EQ(unanswered->Requests(), 2u);
    EXPECT_EQ(credentials.Find("dc1")->refusal, 0u);
    EXPECT_FALSE(std::filesystem::exists(scratch.path() + "/unanswered"));
    // A keytab that cannot give the principal's key is a refused logon: marked on the
    // credentials, and not tried again while they stand.
    EXPECT_EQ(registry.Open("dc2", &key), win32_error::kLogonFailure);
    EXPECT_EQ(registry.Open("dc2", &key), win32_error::kLogonFailure);
    EXPECT_EQ(missing->Requests(), 1u);
    EXPECT_EQ(credentials.Find("dc2")->refusal, win32_error::kLogonFailure);
    EXPECT_EQ(opens, 0);
    // Each request that failed is logged with its reason, and nothing of the keytab's key.
    ASSERT_EQ(log.size(), 3u);
    EXPECT_NE(log[0].find("the ticket of mon@NOWHERE.TEST from keytab " + keytab + ": "), std::string::npos) << log[0];
    EXPECT_NE(log[2].find("keytab " + scratch.path() + "/none.keytab for mon@NOWHERE.TEST: "), std::string::npos)
        << log[2];
    std::ifstream file(keytab, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::string keyBytes = bytes.substr(bytes.size() - 32, 16);
    for (const std::string& line : log)
        EXPECT_EQ(line.find(keyBytes), std::string::npos);
    // A password's credentials pass through untouched.
    EXPECT_EQ(registry.Open("dc3", &key), win32_error::kAccessDenied);
    EXPECT_EQ(opens, 1);
    credentials.Remove(unansweredId);
    credentials.Remove(missingId);
}

TEST(ExporterKeytabLogonTest, TheKeytabCheckedIsTheOneReadWhateverItsNameNamesLater)
{
    ASSERT_EQ(geteuid(), 0u) << "the owners of the files need root";
    TempDir scratch;
    const std::string config =
        scratch.Write("krb5.conf", "[libdefaults]\n default_realm = NOWHERE.TEST\n dns_lookup_kdc = false\n"
                                   "[realms]\n NOWHERE.TEST = {\n  kdc = tcp/127.0.0.1:1\n }\n");
    const ScopedEnvironment krb5Config("KRB5_CONFIG", config);
    const std::string keytab = scratch.path() + "/mon.keytab";
    ASSERT_TRUE(WriteTestKeytab(keytab, "mon@NOWHERE.TEST"));
    ASSERT_EQ(chmod(keytab.c_str(), 0600), 0);
    ExporterAuth auth;
    auth.keytab = keytab;
    auth.principal = "mon@NOWHERE.TEST";
    std::string path, error;
    int fd = -1;
    ASSERT_TRUE(FindAuthKeytab(auth, nullptr, path, error, &fd)) << error;
    ASSERT_GE(fd, 0);
    KeytabTicket ticket(auth.principal, path, scratch.path() + "/cache", fd);

    // Its name now names a keytab of someone else's key, world-readable: the ticket is still asked
    // with the key of the file that was checked (the KDC, which listens nowhere, is the only
    // thing that fails), never with the other.
    const std::string other = scratch.path() + "/other.keytab";
    ASSERT_TRUE(WriteTestKeytab(other, "intruder@NOWHERE.TEST"));
    ASSERT_EQ(chmod(other.c_str(), 0644), 0);
    ASSERT_EQ(rename(other.c_str(), keytab.c_str()), 0);
    EXPECT_EQ(ticket.Ensure(&error), win32_error::kNoLogonServers) << error;
    EXPECT_NE(error.find("the ticket of mon@NOWHERE.TEST from keytab " + keytab + ": "), std::string::npos) << error;
}
