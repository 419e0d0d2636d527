// Passwords from a file, the environment or a prompt, and the secrets file
// of apply: where each comes from, their limits, and that no problem repeats
// a secret.

#include "../support/tempfile.h"
#include "devicerow.h"
#include "secrets.h"
#include "secretsfile.h"

#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>

using namespace veltrona;
using namespace veltrona::change;

namespace {

using veltrona::test::TempFile;

} // namespace

TEST(Secrets, FileThenEnvironmentThenPrompt) {
    std::vector<std::string> answers;
    std::size_t prompts = 0;
    const PromptFunction prompt = [&](const std::string &) -> std::optional<std::string> {
        if (prompts >= answers.size())
            return std::nullopt;
        return answers[prompts++];
    };
    TempFile file("from-file\r\nsecond line\n");
    SecretSource source{"--x-file", file.path(), "CLI_TEST_SECRET", "P: ", "password", 16};
    ::setenv("CLI_TEST_SECRET", "from-env", 1);
    EXPECT_EQ(readSecret(source, true, prompt).value, "from-file");
    EXPECT_EQ(prctl(PR_GET_DUMPABLE), 0) << "no core file while passwords are held";
    source.file.reset();
    EXPECT_EQ(readSecret(source, true, prompt).value, "from-env");
    EXPECT_STREQ(std::getenv("CLI_TEST_SECRET"), "") << "overwritten once read";
    ::setenv("CLI_TEST_SECRET", "", 1);
    EXPECT_EQ(readSecret(source, true, prompt).value, "") << "set but empty is a password";
    EXPECT_EQ(prompts, 0u);

    ::unsetenv("CLI_TEST_SECRET");
    source.confirm = true;
    answers = {"typed", "typed", "typed", "typo"};
    EXPECT_EQ(readSecret(source, true, prompt).value, "typed");
    const SecretOutcome differ = readSecret(source, true, prompt);
    EXPECT_FALSE(differ.value);
    EXPECT_FALSE(differ.error.empty());
    EXPECT_EQ(prompts, 4u);

    const SecretOutcome noTerminal = readSecret(source, false, prompt);
    EXPECT_FALSE(noTerminal.value);
    EXPECT_NE(noTerminal.error.find("--x-file"), std::string::npos);
    EXPECT_NE(noTerminal.error.find("CLI_TEST_SECRET"), std::string::npos);
    source.required = false;
    source.mayPrompt = false;
    const SecretOutcome optional = readSecret(source, true, prompt);
    EXPECT_FALSE(optional.value);
    EXPECT_TRUE(optional.error.empty());
    EXPECT_EQ(prompts, 4u);
}

TEST(Secrets, LengthAndFileProblemsNameTheirSource) {
    const PromptFunction never = [](const std::string &) -> std::optional<std::string> {
        ADD_FAILURE() << "no prompt expected";
        return std::nullopt;
    };
    TempFile sixteen(std::string(16, 'p') + "\n");
    TempFile seventeen(std::string(17, 'p'));
    TempFile withZero(std::string("ab\0cd", 5));
    TempFile notLatin1("\xe6\x97\xa5\n");
    TempFile shared("p\n");
    ASSERT_EQ(chmod(shared.path().c_str(), 0640), 0);
    SecretSource source{"--password-file", sixteen.path(), "CLI_TEST_UNSET", "", "password", 16};
    EXPECT_EQ(readSecret(source, false, never).value, std::string(16, 'p'));
    for (const std::string &path : {seventeen.path(), withZero.path(), notLatin1.path(),
                                    shared.path(), std::string("/nonexistent")}) {
        source.file = path;
        const SecretOutcome outcome = readSecret(source, false, never);
        EXPECT_FALSE(outcome.value) << path;
        EXPECT_NE(outcome.error.find("--password-file"), std::string::npos) << outcome.error;
    }
    ::setenv("CLI_TEST_LONG", std::string(33, 'x').c_str(), 1);
    const SecretSource pppoe{"--pppoe-password-file", {}, "CLI_TEST_LONG", "",
                             "PPPoE password",        32};
    EXPECT_NE(readSecret(pppoe, false, never).error.find("CLI_TEST_LONG"), std::string::npos);
    ::unsetenv("CLI_TEST_LONG");
}

// The engine's problems in the client's words: named as options or as plan
// columns, a plan's row first; device texts cannot drive the terminal.

enum class SecretsFileKind { Private, Fifo, OtherOwner };

struct SecretsCase {
    const char *name;
    std::string file;
    std::string problem; // empty: read, with the passwords below; FILE: the file's name
    std::vector<std::string> passwords;
    mode_t mode = 0600;
    SecretsFileKind kind = SecretsFileKind::Private;
};

class SecretsFile : public testing::TestWithParam<SecretsCase> {};

TEST_P(SecretsFile, CellsTakenWholeAndNeverRepeated) {
    TempFile file(GetParam().file);
    ASSERT_EQ(chmod(file.path().c_str(), GetParam().mode), 0);
    if (GetParam().kind == SecretsFileKind::Fifo) { // no writer: a blocking open would hang
        std::remove(file.path().c_str());
        ASSERT_EQ(mkfifo(file.path().c_str(), 0600), 0);
    } else if (GetParam().kind == SecretsFileKind::OtherOwner) {
        if (geteuid() != 0)
            GTEST_SKIP() << "only root can give a file to another user";
        ASSERT_EQ(chown(file.path().c_str(), 65534, 65534), 0);
    }
    std::map<std::uint64_t, Credentials> read;
    const std::string problem = readSecretsFile(file.path(), read);
    std::string expected = GetParam().problem;
    if (const std::size_t at = expected.find("FILE"); at != std::string::npos)
        expected.replace(at, 4, file.path());
    EXPECT_EQ(problem, expected.empty() ? "" : "--secrets: " + expected);
    EXPECT_EQ(problem.find("Hunter2"), std::string::npos);
    std::vector<std::string> passwords;
    for (const auto &[key, credentials] : read)
        passwords.push_back(credentials.password);
    EXPECT_EQ(passwords, GetParam().passwords);
}

const std::string kSecretsHeader = "mac,user,password\n";

INSTANTIATE_TEST_SUITE_P(
    Rows, SecretsFile,
    testing::Values(
        SecretsCase{"quoted_and_spaced",
                    "\xEF\xBB\xBF user ,mac,password\r\nadmin,02-00-00-00-00-01,\"Pa,ss\"\r\n"
                    "admin,02-00-00-00-00-02,\"say \"\"hi\"\"\"\r\n"
                    "admin,02-00-00-00-00-03,secret \r\n",
                    "",
                    {"Pa,ss", "say \"hi\"", "secret "}},
        SecretsCase{"no_header",
                    "02-00-00-00-00-01,admin,Hunter2!Secret\n",
                    "row 1: cell 1 is not a column name (the first row names the columns mac, "
                    "user, password and optionally new_password)",
                    {}},
        SecretsCase{"header_without_password",
                    "mac,user\n",
                    "row 1: the columns mac, user and password are needed",
                    {}},
        SecretsCase{"too_long",
                    kSecretsHeader + "02-00-00-00-00-01,admin,Hunter2!Secret+++\n",
                    "row 2: password: the password is longer than 16 characters",
                    {}},
        SecretsCase{"cell_too_many",
                    kSecretsHeader + "02-00-00-00-00-01,admin,Hunter2,x\n",
                    "row 2: 4 cells, but the header names 3 columns",
                    {}},
        SecretsCase{
            "bad_mac", kSecretsHeader + "Hunter2,admin,x\n", "row 2: mac: not a MAC address", {}},
        SecretsCase{"twice",
                    kSecretsHeader + "02-00-00-00-00-01,admin,Hunter2\n02:00:00:00:00:01,a,b\n",
                    "row 3: mac: 02-00-00-00-00-01 is listed twice",
                    {}},
        SecretsCase{"empty",
                    "\n\n",
                    "the file is empty (the first row names the columns mac, "
                    "user, password and optionally new_password)",
                    {}},
        SecretsCase{"readable_by_its_group",
                    kSecretsHeader + "02-00-00-00-00-01,admin,Hunter2\n",
                    "FILE can be read or changed by others than its owner; make it private "
                    "(chmod 600) and give the passwords new values if others may have read them",
                    {},
                    0640},
        SecretsCase{"fifo", "", "FILE is not a regular file", {}, 0600, SecretsFileKind::Fifo},
        SecretsCase{"another_users",
                    kSecretsHeader + "02-00-00-00-00-01,admin,Hunter2\n",
                    "FILE belongs to user 65534, not to the user running veltrona-cli (0); a "
                    "file of secrets must be its own",
                    {},
                    0600,
                    SecretsFileKind::OtherOwner}),
    [](const testing::TestParamInfo<SecretsCase> &info) { return std::string(info.param.name); });
