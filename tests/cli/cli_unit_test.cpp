// veltrona-cli without a network: the command line, passwords, the change
// rules and the output formats.

#include "changes.h"
#include "commandline.h"
#include "report.h"
#include "secrets.h"

#include <gtest/gtest.h>

#include <QJsonObject>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <unistd.h>

using namespace veltrona::cli;

namespace {

ParseOutcome parse(std::initializer_list<const char *> words) {
    QStringList arguments;
    for (const char *word : words)
        arguments << QString::fromUtf8(word);
    return parseCommandLine(arguments);
}

// The error of a command line that must be refused.
std::string refusal(std::initializer_list<const char *> words) {
    const ParseOutcome outcome = parse(words);
    EXPECT_FALSE(outcome.commandLine.has_value());
    return outcome.error;
}

template <std::size_t N> void setText(char (&field)[N], const std::string &text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N));
}

FoundDevice sampleDevice() {
    FoundDevice device;
    const std::uint8_t mac[6] = {0x02, 0x4b, 0x56, 0, 0, 0x1f};
    std::memcpy(device.info.mac, mac, 6);
    std::memcpy(device.row.mac, mac, 6);
    setText(device.info.ipAddress, "10.77.1.31");
    setText(device.row.ipAddress, "10.77.1.31");
    setText(device.info.modelName, "KV \"Pro\", 2");
    setText(device.row.modelName, "KV \"Pro\", 2");
    setText(device.info.hostName, "cam");
    setText(device.row.hostName, "cam");
    device.row.mode = KOVA_MODE_PPPOE;
    device.network.mode = KOVA_MODE_PPPOE;
    setText(device.network.ipAddress, "192.168.1.9");
    setText(device.network.pppoePassword, "hidden-pppoe");
    device.network.mtu = 1492;
    device.version = 5;
    device.ports = KOVA_SERVICE_PORTS{554, 80, 0, 0, 2, 0, 1, 0};
    device.row.av1Port = 554;
    device.row.webPort = 80;
    device.firmware = KOVA_FIRMWARE_INFO{1, 2, 3, 0, "SN1"};
    return device;
}

class TempFile {
public:
    explicit TempFile(const std::string &content) {
        char name[] = "/tmp/cli-secret-XXXXXX";
        const int fd = mkstemp(name);
        path_ = name;
        EXPECT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
        close(fd);
    }
    ~TempFile() { std::remove(path_.c_str()); }
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

} // namespace

TEST(CliAddresses, MacAcceptsDashesOrColonsInEitherCase) {
    const MacAddress expected{0x02, 0x4b, 0x56, 0xab, 0xcd, 0xef};
    EXPECT_EQ(parseMac("02-4B-56-AB-CD-EF"), expected);
    EXPECT_EQ(parseMac("02:4b:56:ab:cd:ef"), expected);
    EXPECT_EQ(parseMac("02:4B:56:aB:Cd:eF"), expected);
    for (const char *bad : {"02-4B-56:AB-CD-EF", "02-4B-56-AB-CD", "02-4B-56-AB-CD-EF-00",
                            "024B56ABCDEF", "02-4B-56-AB-CD-EG", "2-4B-56-AB-CD-EF0", ""})
        EXPECT_FALSE(parseMac(bad)) << bad;
}

TEST(CliAddresses, Ipv4IsStrictAndCanonical) {
    EXPECT_EQ(canonicalIpv4("10.77.1.5"), "10.77.1.5");
    EXPECT_EQ(canonicalIpv4("010.000.1.255"), "10.0.1.255");
    for (const char *bad : {"10.77.1", "10.77.1.5.6", "10.77.1.256", "10..1.5", "10.77.1.5 ",
                            " 10.77.1.5", "10.77.1.-5", "0x0a.1.1.1", "1.2.3.0004", ""})
        EXPECT_FALSE(canonicalIpv4(bad)) << bad;
}

TEST(CliCommandLine, ScanOptions) {
    const ParseOutcome outcome =
        parse({"scan", "--bind", "10.77.0.01", "--seconds=2", "--format", "csv", "--show-secrets"});
    ASSERT_TRUE(outcome.commandLine) << outcome.error;
    EXPECT_EQ(outcome.commandLine->command, Command::Scan);
    EXPECT_EQ(outcome.commandLine->bindAddress, "10.77.0.1");
    EXPECT_EQ(outcome.commandLine->seconds, 2);
    EXPECT_EQ(outcome.commandLine->format, Format::Csv);
    EXPECT_TRUE(outcome.commandLine->showSecrets);

    const ParseOutcome defaults = parse({"scan"});
    ASSERT_TRUE(defaults.commandLine);
    EXPECT_EQ(defaults.commandLine->bindAddress, "");
    EXPECT_EQ(defaults.commandLine->seconds, kDefaultSeconds);
    EXPECT_EQ(defaults.commandLine->format, Format::Table);
}

TEST(CliCommandLine, SetNetworkCollectsOnlyTheGivenSettings) {
    const ParseOutcome outcome =
        parse({"set-network", "--mac", "02:4b:56:00:00:01", "--mode", "pppoe", "--mtu", "1400",
               "--dns-mode", "manual", "--pppoe-user", "sixteen-chars-16"});
    ASSERT_TRUE(outcome.commandLine) << outcome.error;
    const CommandLine &line = *outcome.commandLine;
    EXPECT_EQ(line.userId, "root");
    EXPECT_EQ(line.network.mode, KOVA_MODE_PPPOE);
    EXPECT_EQ(line.network.mtu, 1400u);
    EXPECT_EQ(line.network.dnsMode, 1);
    EXPECT_EQ(line.network.pppoeUserName, "sixteen-chars-16");
    EXPECT_FALSE(line.network.ipAddress);
    EXPECT_FALSE(line.network.pppoeServiceName);
}

TEST(CliCommandLine, LimitsAreEnforcedAtTheirEdges) {
    const std::string host32(32, 'h');
    const std::string domain64(64, 'd');
    EXPECT_TRUE(parse({"set-hostname", "--mac", "02-00-00-00-00-01", "--host", host32.c_str(),
                       "--domain", domain64.c_str(), "--user", "eightchr"})
                    .commandLine);
    const std::string host33 = host32 + "h";
    const std::string domain65 = domain64 + "d";
    EXPECT_NE(refusal({"set-hostname", "--mac", "02-00-00-00-00-01", "--host", host33.c_str()})
                  .find("--host"),
              std::string::npos);
    EXPECT_NE(refusal({"set-hostname", "--mac", "02-00-00-00-00-01", "--domain", domain65.c_str()})
                  .find("--domain"),
              std::string::npos);
    EXPECT_NE(refusal({"set-hostname", "--mac", "02-00-00-00-00-01", "--host", "a", "--user",
                       "ninechars"})
                  .find("--user"),
              std::string::npos);
    EXPECT_NE(refusal({"set-hostname", "--mac", "02-00-00-00-00-01", "--host", "a", "--user", ""})
                  .find("--user"),
              std::string::npos);
    EXPECT_NE(
        refusal({"set-network", "--mac", "02-00-00-00-00-01", "--pppoe-user", "seventeen-chars-1"})
            .find("--pppoe-user"),
        std::string::npos);
    const std::string service33(33, 's');
    EXPECT_NE(
        refusal({"set-network", "--mac", "02-00-00-00-00-01", "--pppoe-service", service33.c_str()})
            .find("--pppoe-service"),
        std::string::npos);
    EXPECT_TRUE(parse({"set-network", "--mac", "02-00-00-00-00-01", "--mtu", "65535"}).commandLine);
    for (const char *mtu : {"65536", "-1", "1e3", "", "99999999999999"})
        EXPECT_NE(
            refusal({"set-network", "--mac", "02-00-00-00-00-01", "--mtu", mtu}).find("--mtu"),
            std::string::npos)
            << mtu;
    for (const char *seconds : {"0", "3601", "two"})
        EXPECT_NE(refusal({"scan", "--seconds", seconds}).find("--seconds"), std::string::npos);
}

TEST(CliCommandLine, EveryMalformedValueNamesItsOption) {
    const std::pair<std::vector<const char *>, const char *> cases[] = {
        {{"set-network", "--mac", "02-00-00-00-00-01", "--ip", "10.0.0.256"}, "--ip"},
        {{"set-network", "--mac", "02-00-00-00-00-01", "--netmask", "255.255.0"}, "--netmask"},
        {{"set-network", "--mac", "02-00-00-00-00-01", "--gateway", "gw"}, "--gateway"},
        {{"set-network", "--mac", "02-00-00-00-00-01", "--dns", "1.1.1.1.1"}, "--dns"},
        {{"set-network", "--mac", "02-00-00-00-00-01", "--pppoe-dns", "x"}, "--pppoe-dns"},
        {{"set-network", "--mac", "02-00-00-00-00-01", "--mode", "auto"}, "--mode"},
        {{"set-network", "--mac", "02-00-00-00-00-01", "--dns-mode", "on"}, "--dns-mode"},
        {{"set-network", "--mac", "02-00-00-00-00-0G", "--mode", "dhcp"}, "--mac"},
        {{"set-network", "--mode", "dhcp"}, "--mac"},
        {{"set-account", "--mac", "02-00-00-00-00-01", "--guest", "maybe"}, "--guest"},
        {{"scan", "--bind", "localhost"}, "--bind"},
        {{"scan", "--format", "xml"}, "--format"},
        {{"scan", "--ip", "1.2.3.4"}, "ip"},
        {{"scan", "--seconds", "1", "--seconds", "2"}, "--seconds"},
        {{"set-hostname", "--mac", "02-00-00-00-00-01"}, "--host"},
        {{"set-network", "--mac", "02-00-00-00-00-01", "--pppoe-password-file", "f",
          "--ask-pppoe-password"},
         "--ask-pppoe-password"},
    };
    for (const auto &[words, option] : cases) {
        QStringList arguments;
        for (const char *word : words)
            arguments << QString::fromUtf8(word);
        const ParseOutcome outcome = parseCommandLine(arguments);
        EXPECT_FALSE(outcome.commandLine) << arguments.join(' ').toStdString();
        EXPECT_NE(outcome.error.find(option), std::string::npos)
            << arguments.join(' ').toStdString() << " -> " << outcome.error;
    }
    EXPECT_FALSE(parse({}).commandLine);
    EXPECT_FALSE(parse({"rescan"}).commandLine);
    EXPECT_FALSE(parse({"scan", "extra"}).commandLine);
    const ParseOutcome help = parse({"set-network", "--help"});
    ASSERT_TRUE(help.commandLine);
    EXPECT_EQ(help.commandLine->command, Command::Help);
    EXPECT_EQ(help.commandLine->helpFor, Command::SetNetwork);
}

TEST(CliSecrets, FileEnvironmentAndPromptInThatOrder) {
    ::unsetenv("CLI_TEST_SECRET");
    int prompts = 0;
    std::vector<std::string> answers;
    const PromptFunction prompt = [&](const std::string &) -> std::optional<std::string> {
        if (static_cast<std::size_t>(prompts) >= answers.size())
            return std::nullopt;
        return answers[static_cast<std::size_t>(prompts++)];
    };
    TempFile file("from-file\r\nsecond line\n");
    SecretSource source{"--x-file", file.path(), "CLI_TEST_SECRET", "P: ", "password", 16};
    ::setenv("CLI_TEST_SECRET", "from-env", 1);
    EXPECT_EQ(readSecret(source, true, prompt).value, "from-file");

    source.file.reset();
    EXPECT_EQ(readSecret(source, true, prompt).value, "from-env");
    ::setenv("CLI_TEST_SECRET", "", 1);
    const SecretOutcome empty = readSecret(source, true, prompt);
    EXPECT_EQ(empty.value, "") << "an empty variable is an empty password";
    EXPECT_EQ(prompts, 0);

    ::unsetenv("CLI_TEST_SECRET");
    answers = {"typed"};
    EXPECT_EQ(readSecret(source, true, prompt).value, "typed");
    EXPECT_EQ(prompts, 1);

    source.confirm = true;
    prompts = 0;
    answers = {"typed", "typo"};
    SecretOutcome differ = readSecret(source, true, prompt);
    EXPECT_FALSE(differ.value);
    EXPECT_FALSE(differ.error.empty());

    const SecretOutcome noTerminal = readSecret(source, false, prompt);
    EXPECT_FALSE(noTerminal.value);
    EXPECT_NE(noTerminal.error.find("--x-file"), std::string::npos);
    EXPECT_NE(noTerminal.error.find("CLI_TEST_SECRET"), std::string::npos);

    source.required = false;
    source.mayPrompt = false;
    const SecretOutcome optional = readSecret(source, true, prompt);
    EXPECT_FALSE(optional.value);
    EXPECT_TRUE(optional.error.empty());
}

TEST(CliSecrets, LengthAndFileProblemsNameTheirSource) {
    const PromptFunction never = [](const std::string &) -> std::optional<std::string> {
        ADD_FAILURE() << "no prompt expected";
        return std::nullopt;
    };
    TempFile sixteen(std::string(16, 'p') + "\n");
    TempFile seventeen(std::string(17, 'p'));
    SecretSource source{"--password-file", sixteen.path(), "CLI_TEST_UNSET", "", "password", 16};
    EXPECT_EQ(readSecret(source, false, never).value, std::string(16, 'p'));
    source.file = seventeen.path();
    SecretOutcome tooLong = readSecret(source, false, never);
    EXPECT_FALSE(tooLong.value);
    EXPECT_NE(tooLong.error.find("--password-file"), std::string::npos);
    EXPECT_NE(tooLong.error.find("16"), std::string::npos);

    TempFile withZero(std::string("ab\0cd", 5));
    source.file = withZero.path();
    EXPECT_FALSE(readSecret(source, false, never).value);
    source.file = "/nonexistent/secret";
    const SecretOutcome missing = readSecret(source, false, never);
    EXPECT_FALSE(missing.value);
    EXPECT_NE(missing.error.find("--password-file"), std::string::npos);

    ::setenv("CLI_TEST_LONG", std::string(33, 'x').c_str(), 1);
    SecretSource pppoe{
        "--pppoe-password-file", std::nullopt, "CLI_TEST_LONG", "", "PPPoE password", 32};
    const SecretOutcome envTooLong = readSecret(pppoe, false, never);
    EXPECT_FALSE(envTooLong.value);
    EXPECT_NE(envTooLong.error.find("CLI_TEST_LONG"), std::string::npos);
    ::unsetenv("CLI_TEST_LONG");
}

TEST(CliChanges, NetworkChangesKeepTheRestAndRefuseWhatIsNotSent) {
    KOVA_NETWORK_SETTINGS current{};
    current.mode = KOVA_MODE_PPPOE;
    setText(current.ipAddress, "10.0.0.9");
    setText(current.netMask, "255.0.0.0");
    setText(current.gateway, "10.0.0.1");
    setText(current.dnsServer, "10.0.0.53");
    setText(current.pppoeUserName, "user");
    setText(current.pppoePassword, "old");
    setText(current.pppoeServiceName, "svc");
    current.mtu = 1492;

    NetworkChanges mtuOnly;
    mtuOnly.mtu = 1400;
    KOVA_NETWORK_SETTINGS settings = current;
    EXPECT_EQ(applyNetworkChanges(mtuOnly, std::nullopt, settings), "");
    EXPECT_EQ(settings.mtu, 1400);
    EXPECT_STREQ(settings.pppoeUserName, "user");
    EXPECT_STREQ(settings.pppoePassword, "old");
    EXPECT_EQ(settings.mode, KOVA_MODE_PPPOE);

    settings = current;
    EXPECT_EQ(applyNetworkChanges(mtuOnly, std::string(32, 'n'), settings), "");
    EXPECT_EQ(std::string(settings.pppoePassword, 32), std::string(32, 'n'));

    NetworkChanges toStatic;
    toStatic.mode = KOVA_MODE_STATIC;
    toStatic.ipAddress = "10.0.0.20";
    settings = current;
    EXPECT_EQ(applyNetworkChanges(toStatic, std::nullopt, settings), "");
    EXPECT_EQ(settings.mode, KOVA_MODE_STATIC);
    EXPECT_STREQ(settings.ipAddress, "10.0.0.20");
    EXPECT_STREQ(settings.gateway, "10.0.0.1");

    NetworkChanges ipOnly;
    ipOnly.ipAddress = "10.0.0.20";
    settings = current;
    const std::string refused = applyNetworkChanges(ipOnly, std::nullopt, settings);
    EXPECT_NE(refused.find("--ip"), std::string::npos);
    EXPECT_NE(refused.find("--mode"), std::string::npos);
    EXPECT_STREQ(settings.ipAddress, "10.0.0.9") << "nothing changes on a refusal";

    EXPECT_NE(checkModeOptions(toStatic, true, KOVA_MODE_DHCP).find("PPPoE password"),
              std::string::npos);
    NetworkChanges dhcpMtu;
    dhcpMtu.mode = KOVA_MODE_DHCP;
    dhcpMtu.mtu = 1500;
    EXPECT_NE(checkModeOptions(dhcpMtu, false, KOVA_MODE_PPPOE).find("--mtu"), std::string::npos);
}

TEST(CliChanges, HostNamesKeepTheDevicesWhenNotGiven) {
    KOVA_DEVICE_INFO info{};
    setText(info.hostName, "old-host");
    setText(info.domainName, "old.example");
    std::string host;
    std::string domain;
    EXPECT_EQ(resolveHostNames(std::string("new"), std::nullopt, info, host, domain), "");
    EXPECT_EQ(host, "new");
    EXPECT_EQ(domain, "old.example");
    setText(info.hostName, std::string(40, 'h'));
    EXPECT_NE(resolveHostNames(std::nullopt, std::string("d"), info, host, domain).find("--host"),
              std::string::npos);
    EXPECT_EQ(resolveHostNames(std::string("short"), std::nullopt, info, host, domain), "");
}

TEST(CliOutput, CsvQuotesCommasQuotesAndLineEnds) {
    EXPECT_EQ(csvField("plain"), "plain");
    EXPECT_EQ(csvField("KV \"Pro\", 2"), "\"KV \"\"Pro\"\", 2\"");
    EXPECT_EQ(csvField("two\nlines"), "\"two\nlines\"");
    const std::string csv = formatCsv({sampleDevice()}, false);
    EXPECT_EQ(csv, "Type,IP Address,MAC Address,Model,SN,FW,Web,AV1,AV2,Conf,Hostname\n"
                   "pppoe,10.77.1.31,02-4B-56-00-00-1F,\"KV \"\"Pro\"\", 2\",N/A,N/A,80,554,N/A,"
                   "N/A,cam\n");
    EXPECT_NE(formatCsv({sampleDevice()}, true).find(",PPPoE Password\n"), std::string::npos);
    EXPECT_NE(formatCsv({sampleDevice()}, true).find(",cam,hidden-pppoe\n"), std::string::npos);
}

TEST(CliOutput, TableAlignsColumnsAndDefusesControlCharacters) {
    FoundDevice evil = sampleDevice();
    setText(evil.row.hostName, "x\033[2Jy");
    evil.row.mac[5] = 0x20;
    const std::string table = formatTable({sampleDevice(), evil}, false);
    EXPECT_EQ(table.find('\033'), std::string::npos);
    EXPECT_NE(table.find("x?[2Jy"), std::string::npos);
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = table.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(table.substr(at, end - at));
    ASSERT_EQ(lines.size(), 3u);
    const std::size_t column = lines[0].find("MAC Address");
    EXPECT_EQ(lines[1].find("02-4B-56-00-00-1F"), column);
    EXPECT_EQ(lines[2].find("02-4B-56-00-00-20"), column);
    EXPECT_EQ(lines[1].find("cam"), lines[0].find("Hostname"));
    EXPECT_EQ(table.find("hidden-pppoe"), std::string::npos);
}

TEST(CliOutput, JsonHoldsColumnsFieldsAndNoSecretUnlessAsked) {
    FoundDevice device = sampleDevice();
    setText(device.info.domainName, "caf\xe9"); // Latin-1, not UTF-8
    QJsonObject object = deviceJson(device, false);
    EXPECT_EQ(object["columns"].toObject()["Model"].toString(), "KV \"Pro\", 2");
    EXPECT_EQ(object["columns"].toObject().size(), 11);
    EXPECT_EQ(object["mac"].toString(), "02-4B-56-00-00-1F");
    EXPECT_EQ(object["ipAddress"].toString(), "10.77.1.31");
    EXPECT_EQ(object["settingsIpAddress"].toString(), "192.168.1.9");
    EXPECT_EQ(object["domainName"].toString(), QString::fromUtf8("caf\xc3\xa9"));
    EXPECT_EQ(object["version"].toInt(), 5);
    EXPECT_EQ(object["av1Port"].toInt(), 554);
    EXPECT_EQ(object["serialNumber"].toString(), "SN1");
    EXPECT_FALSE(object.contains("pppoePassword"));
    EXPECT_EQ(deviceJson(device, true)["pppoePassword"].toString(), "hidden-pppoe");

    device.ports.reset();
    device.firmware.reset();
    object = deviceJson(device, false);
    EXPECT_TRUE(object["webPort"].isNull());
    EXPECT_TRUE(object["fwMajor"].isNull());
    EXPECT_TRUE(object["serialNumber"].isNull());
}
