// veltrona-cli without a network: addresses, the limits of every option,
// where passwords come from, and the table's defences. What needs devices is
// in cli_lab_test.cpp.

#include "../support/tempfile.h"
#include "commandline.h"
#include "commandtable.h"
#include "csv.h"
#include "kovalibrary.h"
#include "plan.h"
#include "problems.h"
#include "report.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

using namespace veltrona::cli;
using veltrona::parseMac;

namespace {

ParseOutcome parse(const std::vector<std::string> &words) {
    QStringList arguments;
    for (const std::string &word : words)
        arguments << QString::fromStdString(word);
    return parseCommandLine(arguments);
}

const std::string kMac = "02-00-00-00-00-01";

template <std::size_t N> void setText(char (&field)[N], const std::string &text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N));
}

using veltrona::test::TempFile;

} // namespace

TEST(CliCommandLine, MacAndIpv4Forms) {
    const MacAddress expected{0x02, 0x4b, 0x56, 0xab, 0xcd, 0xef};
    for (const char *good : {"02-4B-56-AB-CD-EF", "02:4b:56:ab:cd:ef", "02:4B:56:aB:Cd:eF"})
        EXPECT_EQ(parseMac(good), expected) << good;
    for (const char *bad : {"02-4B-56:AB-CD-EF", "02-4B-56-AB-CD", "02-4B-56-AB-CD-EF-00",
                            "024B56ABCDEF", "02-4B-56-AB-CD-EG", "2-4B-56-AB-CD-EF0"})
        EXPECT_FALSE(parseMac(bad)) << bad;

    EXPECT_EQ(canonicalIpv4("010.000.1.255"), "10.0.1.255");
    for (const char *bad : {"10.77.1", "10.77.1.5.6", "10.77.1.256", "10..1.5", "10.77.1.5 ",
                            " 10.77.1.5", "0x0a.1.1.1", "1.2.3.0004", ""})
        EXPECT_FALSE(canonicalIpv4(bad)) << bad;
}

TEST(CliCommandLine, EveryLimitHoldsAtItsEdgeAndNamesItsOption) {
    const std::vector<std::vector<std::string>> accepted = {
        {"set-hostname", "--mac", kMac, "--host", std::string(32, 'h'), "--domain",
         std::string(64, 'd'), "--user", "eightchr"},
        {"set-network", "--mac", kMac, "--pppoe-user", std::string(16, 'u'), "--pppoe-service",
         std::string(32, 's'), "--mtu", "65535"},
        {"scan", "--seconds", "3600", "--bind", "10.77.0.1", "--format", "json"},
        // One grammar: --opt=value as --opt value, for every command.
        {"scan", "--seconds=3600", "--format=json", "--bind=10.77.0.1"},
        {"apply", "plan.csv", "--parallel=3", "--seconds", "5", "--dry-run"},
        {"apply", "--", "-plan.csv"},
        {"plan", "--order=serial", "--only-mode", "pppoe"},
    };
    for (const auto &words : accepted)
        EXPECT_TRUE(parse(words).commandLine) << parse(words).error;
    EXPECT_EQ(parse({"set-hostname", "--mac", kMac, "--host", "caf\xc3\xa9"}).commandLine->hostName,
              "caf\xe9");

    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{"set-hostname", "--mac", kMac, "--host", std::string(33, 'h')}, "--host"},
        {{"set-hostname", "--mac", kMac, "--domain", std::string(65, 'd')}, "--domain"},
        {{"set-hostname", "--mac", kMac, "--host", "a", "--user", "ninechars"}, "--user"},
        {{"set-hostname", "--mac", kMac, "--host", "a", "--user", ""}, "--user"},
        // Devices take Latin-1: neither other characters nor undecodable bytes.
        {{"set-hostname", "--mac", kMac, "--host", "\xe6\x97\xa5\xe6\x9c\xac"}, "--host"},
        {{"set-hostname", "--mac", kMac, "--host", "a", "--user", "r\xe9"}, "--user"},
        {{"set-hostname", "--mac", kMac}, "--host"},
        {{"set-network", "--mac", kMac, "--pppoe-user", std::string(17, 'u')}, "--pppoe-user"},
        {{"set-network", "--mac", kMac, "--pppoe-service", std::string(33, 's')},
         "--pppoe-service"},
        {{"set-network", "--mac", kMac, "--mtu", "65536"}, "--mtu"},
        {{"set-network", "--mac", kMac, "--mtu", "-1"}, "--mtu"},
        {{"set-network", "--mac", kMac, "--mtu", "99999999999999"}, "--mtu"},
        {{"set-network", "--mac", kMac, "--ip", "10.0.0.256"}, "--ip"},
        {{"set-network", "--mac", kMac, "--netmask", "255.255.0"}, "--netmask"},
        {{"set-network", "--mac", kMac, "--gateway", "gw"}, "--gateway"},
        {{"set-network", "--mac", kMac, "--dns", "1.1.1.1.1"}, "--dns"},
        {{"set-network", "--mac", kMac, "--pppoe-dns", "x"}, "--pppoe-dns"},
        {{"set-network", "--mac", kMac, "--mode", "auto"}, "--mode"},
        {{"set-network", "--mac", kMac, "--dns-mode", "on"}, "--dns-mode"},
        {{"set-network", "--mac", kMac, "--pppoe-password-file", "f", "--ask-pppoe-password"},
         "--ask-pppoe-password"},
        {{"set-network", "--mac", "02-00-00-00-00-0G", "--mode", "dhcp"}, "--mac"},
        {{"set-network", "--mode", "dhcp"}, "--mac"},
        {{"set-account", "--mac", kMac, "--guest", "maybe"}, "--guest"},
        {{"scan", "--seconds", "0"}, "--seconds"},
        {{"scan", "--seconds", "1", "--seconds", "2"}, "--seconds"},
        {{"scan", "--format", "xml"}, "--format"},
        {{"scan", "--mac", kMac}, "mac"},
        {{"scan", "extra"}, "extra"},
        {{"rescan"}, "rescan"},
        // Numbers are digits only, everywhere.
        {{"scan", "--seconds=+5"}, "--seconds"},
        {{"apply", "plan.csv", "--seconds=+5"}, "--seconds"},
        {{"apply", "plan.csv", "--parallel= 3"}, "--parallel"},
        {{"apply", "plan.csv", "--parallel", "257"}, "--parallel"},
        {{"plan", "--order", "size"}, "--order"},
        {{"plan", "--format"}, "--format"},
        {{"plan", "--netmask", "255.255"}, "--netmask"},
        {{"scan", "--show-secrets=yes"}, "--show-secrets"},
        {{"apply"}, "plan file"},
        {{"apply", "a.csv", "b.csv"}, "'b.csv'"},
        {{"apply", "a.csv", "--report", "r", "--report=s"}, "more than once"},
        {{"help", "rescan"}, "rescan"},
        {{"scan", "-V"}, "-V"},
    };
    for (const auto &[words, option] : refused) {
        const ParseOutcome outcome = parse(words);
        EXPECT_FALSE(outcome.commandLine) << words.back();
        EXPECT_NE(outcome.error.find(option), std::string::npos) << outcome.error;
    }
}

TEST(CliCommandLine, MistypedWordsNameTheClosestOne) {
    const Interfaces interfaces = {
        {"eth0", {"192.0.2.5"}}, {"wlan0", {"198.51.100.7", "198.51.100.8"}}, {"dummy0", {}}};
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"scan", "--fromat", "csv"}, "unknown option '--fromat' (did you mean --format?)"},
        {{"apply", "p.csv", "--dryrun"}, "(did you mean --dry-run?)"},
        {{"apply", "p.csv", "--paral=2"}, "(did you mean --parallel?)"},
        {{"scna"}, "unknown command 'scna' (did you mean scan?)"},
        {{"set-hostnmae"}, "(did you mean set-hostname?)"},
        {{"help", "aply"}, "(did you mean apply?)"},
        {{"--verison"}, "(did you mean --version?)"},
        {{"scan", "--format", "jsno"}, "is not table, csv or json (did you mean json?)"},
        {{"scan", "--zzz"}, "unknown option '--zzz' (try scan --help)"},
        {{"frobnicate"}, "unknown command 'frobnicate' (try --help)"},
        {{"scan", "--bind", "eth1"}, "nor an interface of this host (did you mean eth0?)"},
        {{"scan", "--bind", "wlan0"}, "several IPv4 addresses (198.51.100.7, 198.51.100.8)"},
        {{"scan", "--bind", "dummy0"}, "interface dummy0 has no IPv4 address"},
        {{"scan", "--bind", "10.77.0"}, "--bind: '10.77.0' is neither an IPv4 address nor"},
    };
    for (const auto &[words, message] : cases) {
        QStringList arguments;
        for (const std::string &word : words)
            arguments << QString::fromStdString(word);
        const ParseOutcome outcome = parseCommandLine(arguments, interfaces);
        EXPECT_FALSE(outcome.commandLine) << words.back();
        EXPECT_NE(outcome.error.find(message), std::string::npos) << outcome.error;
    }
    const ParseOutcome byName = parseCommandLine({"scan", "--bind=eth0"}, interfaces);
    ASSERT_TRUE(byName.commandLine) << byName.error;
    EXPECT_EQ(byName.commandLine->bindAddress, "192.0.2.5");

    // The completion offers what the table holds where it fits.
    const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> offers = {
        {{"scan", "--bind", ""}, {"eth0", "wlan0"}},
        {{"set-network", "--mode", "p"}, {"pppoe"}},
        {{"doctor", "--p"}, {"--probe"}},
        {{"set-account", "--new-password-file", ""}, {"<file>"}},
        {{"help", "set-a"}, {"set-account"}},
        {{"-"}, {"--help", "--version"}},
    };
    for (auto [words, expected] : offers) {
        const std::string current = words.back();
        words.pop_back();
        EXPECT_EQ(completions(words, current, interfaces), expected) << current;
    }
}

// The manual page's and the guide's option lists hold the table's options,
// command by command, with the same value names.
TEST(CliCommandLine, ManualPageAndGuideFollowTheTable) {
    const auto read = [](const char *path) {
        std::ifstream file(path);
        std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        EXPECT_FALSE(text.empty()) << path;
        std::string plain; // roff's \- is a dash
        for (std::size_t i = 0; i < text.size(); ++i)
            if (!(text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '-'))
                plain += text[i];
        return plain;
    };
    // The table's options of a command, each with its value name.
    const auto tableOf = [](const CommandEntry &command) {
        std::map<std::string, std::string> options;
        for (const OptionEntry &option : command.options)
            options["--" + std::string(option.name)] = option.valueName ? option.valueName : "";
        return options;
    };

    // The manual page: tag lines in the subsections of OPTIONS.
    std::map<std::string, std::map<std::string, std::string>> manual; // subsection -> options
    std::istringstream page(read(VELTRONA_CLI_MANUAL));
    std::string line, section, subsection;
    bool tag = false;
    while (std::getline(page, line)) {
        if (line.rfind(".SH ", 0) == 0 || line.rfind(".SS ", 0) == 0) {
            (line[2] == 'H' ? section : subsection) = line.substr(4);
            if (line[2] == 'H')
                subsection.clear();
            tag = false;
        } else if (tag && section == "OPTIONS" && line.rfind("--", 0) != 0 &&
                   line.find(" --") != std::string::npos) {
            std::istringstream words(line.substr(line.find(" --") + 1));
            std::string name, word, value;
            words >> name;
            while (words >> word)
                for (char c : word)
                    if (c != '"')
                        value += c;
            manual[subsection][name] = value;
        }
        tag = line == ".TP" || line == ".TQ";
    }
    for (const CommandEntry &command : commandTable()) {
        std::map<std::string, std::string> listed = manual["Options of every command"];
        const std::string own = std::string("Options of ") + command.name;
        listed.insert(manual[own].begin(), manual[own].end());
        if (std::string(command.name).rfind("set-", 0) == 0)
            listed.insert(manual["Options of the configuration commands"].begin(),
                          manual["Options of the configuration commands"].end());
        EXPECT_EQ(listed, tableOf(command)) << "manual page, " << command.name;
    }

    // The guide: its synopsis names options of their command only, its
    // tables give the value names of the table, and every option is in it.
    std::string guide = read(VELTRONA_CLI_GUIDE);
    for (std::size_t at = guide.find("\\|"); at != std::string::npos; at = guide.find("\\|", at))
        guide.erase(at, 1); // a | in a table's cell
    std::istringstream lines(guide.substr(0, guide.find("\nOptions of every command")));
    const CommandEntry *command = nullptr;
    while (std::getline(lines, line)) {
        if (line.rfind("veltrona-cli ", 0) == 0)
            command = findCommand(line.substr(13, line.find(' ', 13) - 13));
        else if (line.empty() || line[0] != ' ')
            command = nullptr;
        for (std::size_t at = line.find("--"); command && at != std::string::npos;
             at = line.find("--", at + 2)) {
            const std::string name = line.substr(at, line.find_first_of(" ]|", at) - at);
            EXPECT_TRUE(tableOf(*command).count(name)) << command->name << " " << name;
        }
    }
    for (const CommandEntry &entry : commandTable())
        for (const auto &[name, value] : tableOf(entry)) {
            EXPECT_NE(guide.find("`" + name), std::string::npos) << name;
            const std::size_t row = guide.find("| `" + name + " ");
            if (row != std::string::npos) {
                EXPECT_EQ(guide.substr(row + 4 + name.size(), value.size() + 1), value + "`")
                    << name;
            }
        }
}

TEST(CliChanges, ProblemsAreWordedInTheTermsOfTheFrontEnd) {
    using veltrona::change::Code;
    using veltrona::change::Field;
    const veltrona::change::Problem mode(Code::NotSentInMode, Field::Address, {"dhcp", "device"}, 4,
                                         "02-4B-56-00-00-01");
    EXPECT_EQ(problemText(mode, Terms::Options),
              "--ip: not sent in dhcp (the device is in dhcp; give --mode)");
    EXPECT_EQ(problemText(mode, Terms::Columns),
              "row 4 (02-4B-56-00-00-01): new_ip: not sent in dhcp (the device is in dhcp; give "
              "new_mode)");
    const veltrona::change::Problem held(
        Code::HeldBy, Field::Address, {"10.77.1.9", "02-4B-56-00-00-09", "evil\x1b[2J\xc2\x9bx"});
    EXPECT_EQ(problemText(held, Terms::Options),
              "10.77.1.9 is held by the device 02-4B-56-00-00-09 (evil?[2J?x).");
    const veltrona::change::Problem twice(
        Code::HeardTwice, Field::Device,
        {"02-4B-56-00-01-04", "10.77.1.4", "vt0", "10.78.1.4", "vt1"});
    EXPECT_EQ(problemText(twice, Terms::Options),
              "02-4B-56-00-01-04 answered from two places (10.77.1.4 on vt0 and 10.78.1.4 on vt1): "
              "give --bind with the address of the network to change it on");
}

TEST(CliOutput, TableAlignsColumnsAndDefusesControlCharacters) {
    FoundDevice plain;
    plain.info.mac[5] = 0x1f;
    setText(plain.info.modelName, "Cam\xc3\xa9ra"); // one column wide on screen
    setText(plain.info.hostName, "cam");
    FoundDevice evil = plain;
    evil.info.mac[5] = 0x20;
    setText(evil.info.modelName, "KV");
    setText(evil.info.hostName, "x\033[2Jy");
    FoundDevice c1 = evil; // U+009B as UTF-8, and as the byte of a Latin-1 text
    setText(c1.info.modelName, "a\xc2\x9b"
                               "2Jb");
    setText(c1.info.hostName, "\xe9\x9b"
                              "2J");
    const std::string table = formatTable({plain, evil, c1}, false);
    EXPECT_EQ(table.find('\033'), std::string::npos);
    EXPECT_EQ(table.find('\x9b'), std::string::npos);
    EXPECT_NE(table.find("a?2Jb"), std::string::npos);
    EXPECT_NE(table.find("\xc3\xa9?2J"), std::string::npos) << "Latin-1 shown as UTF-8";
    EXPECT_NE(formatCsv({c1}, false)
                  .find("a\xc2\x9b"
                        "2Jb"),
              std::string::npos)
        << "CSV exact";
    EXPECT_NE(table.find("x?[2Jy"), std::string::npos);
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = table.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(table.substr(at, end - at));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1].find("00-00-00-00-00-1F"), lines[0].find("MAC Address"));
    EXPECT_EQ(lines[1].find("cam"), lines[0].find("Hostname") + 1) << "é is two bytes";
    EXPECT_EQ(lines[2].find("x?[2Jy"), lines[0].find("Hostname"));
    EXPECT_EQ(veltrona::csvField("two\nlines"), "\"two\nlines\"");
}

// Answers every decoder for one made-up reply, counting the calls; the decoder
// named by `failing` refuses.
class RecordingLibrary : public veltrona::KovaLibrary {
public:
    std::string failing;
    std::map<std::string, int> calls;

    int32_t getDeviceInfo(HKOVAITEM, KOVA_DEVICE_INFO *info) override {
        std::memset(info->ipAddress, '1', sizeof info->ipAddress); // fills the field
        setText(info->modelName, "KV-1");
        info->mac[5] = 7;
        return answer("info");
    }
    int32_t getNetworkSettings(HKOVAITEM, KOVA_NETWORK_SETTINGS *settings) override {
        settings->mode = KOVA_MODE_PPPOE;
        return answer("network");
    }
    int32_t getGuestAccount(HKOVAITEM, int32_t *guest) override {
        *guest = 1;
        return answer("guest");
    }
    int32_t getItemFlag(HKOVAITEM, int32_t *flag) override {
        *flag = 0;
        return answer("flag");
    }
    int32_t getServicePorts(HKOVAITEM, KOVA_SERVICE_PORTS *ports) override {
        ports->webPort = 80;
        return answer("ports");
    }
    int32_t getFirmwareInfo(HKOVAITEM, KOVA_FIRMWARE_INFO *firmware) override {
        firmware->fwMajor = 2;
        return answer("firmware");
    }
    int32_t getReplyVersion(HKOVAITEM, int32_t *version) override {
        *version = 5;
        return answer("version");
    }
    int32_t getReplyInterface(HKOVAITEM, char *name) override {
        std::strcpy(name, "vt0");
        return answer("interface");
    }

private:
    int32_t answer(const std::string &what) {
        ++calls[what];
        return what == failing ? KOVA_ERR_NOT_IMPLEMENTED : KOVA_OK;
    }
};

TEST(CliOutput, EachReplyFieldIsDecodedOnceAndTheRowIsMadeFromTheRecord) {
    const HKOVAITEM item = reinterpret_cast<HKOVAITEM>(std::uintptr_t{0x10});
    RecordingLibrary library;
    FoundDevice device;
    ASSERT_TRUE(decodeDevice(library, item, device));
    for (const char *what :
         {"info", "network", "guest", "flag", "ports", "firmware", "version", "interface"})
        EXPECT_EQ(library.calls[what], 1) << what;
    EXPECT_EQ(device.item, item);
    EXPECT_EQ(device.version, 5);
    EXPECT_EQ(device.interfaceName, "vt0");
    DEVICE_ROW row{};
    ASSERT_TRUE(veltrona::assembleDeviceRow(library, item, row));
    const auto texts = veltrona::rowTexts(row);
    EXPECT_EQ(texts, veltrona::rowTexts(veltrona::rowOf(device)));
    EXPECT_EQ(texts[veltrona::ColIpAddress], std::string(15, '1')) << "the row keeps a terminator";
    EXPECT_EQ(texts[veltrona::ColType], "pppoe");
    EXPECT_EQ(texts[veltrona::ColWeb], "80");
    EXPECT_EQ(texts[veltrona::ColFirmware], "2.0.0");

    // Without ports or firmware the row shows none; without any of the rest the
    // reply is dropped.
    for (const char *absent : {"ports", "firmware"}) {
        library.failing = absent;
        const bool ports = std::string(absent) == "ports";
        ASSERT_TRUE(decodeDevice(library, item, device)) << absent;
        EXPECT_EQ(ports ? device.ports.has_value() : device.firmware.has_value(), false);
        const auto shown = veltrona::rowTexts(veltrona::rowOf(device));
        EXPECT_EQ(shown[ports ? veltrona::ColWeb : veltrona::ColFirmware], "N/A");
    }
    for (const char *needed : {"info", "guest", "flag", "network"}) {
        library.failing = needed;
        EXPECT_FALSE(decodeDevice(library, item, device)) << needed;
        EXPECT_FALSE(veltrona::assembleDeviceRow(library, item, row)) << needed;
    }
    library.failing = "version";
    ASSERT_TRUE(decodeDevice(library, item, device));
    EXPECT_FALSE(device.version.has_value());
}

// A plan's rows name their cells in the client's words.
TEST(CliPlan, ModeProblemsOfARowNameItsColumn) {
    // Static settings in a row whose new mode is not static; a cell too many.
    const auto wrong = veltrona::change::parsePlan(
        "mac,new_mode,new_netmask\n02-00-00-00-00-01,dhcp,255.0.0.0\n02-00-00-00-00-02,,,x\n",
        [](const veltrona::change::Problem &problem) {
            return problemText(problem, Terms::Columns);
        });
    ASSERT_EQ(wrong.problems.size(), 2u);
    EXPECT_NE(wrong.problems[0].find("row 3: 4 cells"), std::string::npos) << wrong.problems[0];
    EXPECT_NE(wrong.problems[1].find("row 2: new_netmask: not sent"), std::string::npos)
        << wrong.problems[1];
}
