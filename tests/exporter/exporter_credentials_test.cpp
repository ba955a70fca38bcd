// An auth's password from systemd's credentials (LoadCredential=): the configuration names the
// credential, the exporter reads it from the directory the service manager gives, and accepts it
// as the service manager writes it (read-only: root's, readable through an ACL entry of the
// service's user alone, or the service user's own), but not a file others may read or change.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/linux/exporter/exporter_config_file.h"
#include "platform/linux/probe/linux_probe_environment.h"
#include "tests/linux/test_acl.h"

namespace {

class CredentialsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/zeltor-credentials.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory = pattern;
        ASSERT_EQ(chmod(pattern, 0711), 0); // the service's user finds its files
    }
    void TearDown() override { std::filesystem::remove_all(directory); }

    // Writes the credential name with the mode and owner given.
    void Credential(const std::string& name, mode_t mode, uid_t owner = 0)
    {
        const std::string path = directory + "/" + name;
        std::ofstream(path) << "Cred-Pa55\nsecond line\n";
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
        ASSERT_EQ(chown(path.c_str(), owner, static_cast<gid_t>(-1)), 0);
    }

    // What reading the auth's password gives: the password, or the reason.
    std::string Read(const ExporterAuth& auth, const char* credentials)
    {
        CString password;
        std::string error;
        if (!ReadAuthPassword(environment, auth, credentials, password, error))
            return "refused: " + error;
        return password.ToUtf8();
    }

    static ExporterAuth Auth(const std::string& credential)
    {
        ExporterAuth auth;
        auth.name = "monitor";
        auth.user = "u";
        auth.passwordCredential = credential;
        auth.targets = { "dc1" };
        return auth;
    }

    std::string directory;
    LinuxProbeEnvironment environment;
};

std::string Problem(const std::string& text)
{
    ExporterConfig config;
    return ParseExporterConfig(text, &config).value_or("(accepted)");
}

} // namespace

TEST(ExporterCredentialConfigTest, AnAuthNamesOnePasswordSourceAndACredentialByNameOnly)
{
    ExporterConfig config;
    ASSERT_FALSE(ParseExporterConfig("auths: {a: {user: u, password_credential: auth_a, targets: [h]}}\n", &config));
    EXPECT_EQ(config.auths[0].passwordCredential, "auth_a");
    EXPECT_EQ(config.auths[0].passwordFile, "");
    EXPECT_EQ(Problem("auths: {a: {user: u, targets: [h]}}\n"),
              "auth a must name one of password_file and password_credential");
    EXPECT_EQ(Problem("auths: {a: {user: u, password_file: /p, password_credential: c, targets: [h]}}\n"),
              "auth a must name one of password_file and password_credential");
    for (const char* name : { "../etc/shadow", "..", ".", "/abs", "a b" })
        EXPECT_EQ(Problem(std::string("auths: {a: {user: u, password_credential: '") + name + "', targets: [h]}}\n"),
                  std::string("auth a: password_credential \"") + name +
                      "\" is not a credential's name (1 to 64 letters, digits, '_', '-' or '.')");
}

TEST_F(CredentialsTest, ACredentialIsReadAsTheServiceManagerWritesItAndNoOtherWay)
{
    ASSERT_EQ(geteuid(), 0u) << "the owners of the files need root";
    // With ACLs (tmpfs): root's, 0400 plus the service user's read entry, whose mask shows as
    // the group's read bit. Without (ramfs): the service user's own, 0400.
    constexpr uid_t kService = 4243;
    Credential("auth_acl", 0400, 0);
    ASSERT_TRUE(SetTestAcl(directory + "/auth_acl", "u::r,u:4243:r,g::-,m::r,o::-"));
    Credential("auth_owned", 0400, geteuid());
    EXPECT_EQ(Read(Auth("auth_owned"), directory.c_str()), "Cred-Pa55");
    // A root's file whose group's read bit is not such an ACL's mask, or an ACL that lets others
    // read it too, is not one the service manager gave (this process's groups being root's, the
    // first is readable here).
    Credential("auth_group", 0440, 0);
    Credential("auth_acl_group", 0400, 0);
    ASSERT_TRUE(SetTestAcl(directory + "/auth_acl_group", "u::r,u:4243:r,g::r,m::r,o::-"));
    Credential("auth_acl_stranger", 0400, 0);
    ASSERT_TRUE(SetTestAcl(directory + "/auth_acl_stranger", "u::r,u:4243:r,u:4244:r,g::-,m::r,o::-"));
    {
        const AsUser service(kService);
        ASSERT_TRUE(service.ok());
        EXPECT_EQ(Read(Auth("auth_acl"), directory.c_str()), "Cred-Pa55");
        for (const char* name : { "auth_group", "auth_acl_group", "auth_acl_stranger" })
            EXPECT_EQ(Read(Auth(name), directory.c_str()), "refused: the credential " + directory + "/" + name +
                                                               " can be read or changed by others than this service");
    }

    // Anything others may read or change, or another user's file, is not taken.
    Credential("auth_world", 0444);
    EXPECT_EQ(Read(Auth("auth_world"), directory.c_str()),
              "refused: the credential " + directory +
                  "/auth_world can be read or changed by others than this service");
    Credential("auth_group_write", 0460);
    EXPECT_EQ(Read(Auth("auth_group_write"), directory.c_str()),
              "refused: the credential " + directory +
                  "/auth_group_write can be read or changed by others than this service");
    // Nor one that is not read-only, as the service manager's never is.
    Credential("auth_writable", 0600, geteuid());
    EXPECT_EQ(Read(Auth("auth_writable"), directory.c_str()),
              "refused: the credential " + directory +
                  "/auth_writable is not read-only (mode 0400) as the service manager gives it");
    Credential("auth_stranger", 0400, 4243);
    EXPECT_EQ(Read(Auth("auth_stranger"), directory.c_str()),
              "refused: the credential " + directory + "/auth_stranger belongs to another user");
    EXPECT_EQ(Read(Auth("auth_missing"), directory.c_str()),
              "refused: cannot open the password file " + directory + "/auth_missing: No such file or directory");

    // Outside systemd there is no credential directory: said so, not a file looked for elsewhere.
    for (const char* none : { static_cast<const char*>(nullptr), "" })
        EXPECT_EQ(Read(Auth("auth_acl"), none),
                  "refused: password_credential auth_acl: no credentials were given to the exporter "
                  "($CREDENTIALS_DIRECTORY is not set: it is set by systemd's LoadCredential=)");

    // A password_file keeps the probe's own rule: the group's read bit is too much there.
    ExporterAuth file = Auth("");
    file.passwordFile = directory + "/auth_acl";
    EXPECT_EQ(Read(file, directory.c_str()),
              "refused: the password file " + file.passwordFile +
                  " can be read or changed by others than its owner; make it yours alone (chmod 600 " +
                  file.passwordFile + ")");
}
