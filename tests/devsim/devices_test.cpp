// Device files and generated devices of the simulator.
#include "devices.h"

#include <QFile>

#include <gtest/gtest.h>

#include <set>

using namespace kovasim;

namespace {

std::vector<Device> load(const char *json, QString *error = nullptr) {
    std::vector<Device> devices;
    QString why;
    const bool ok = loadDevices(QByteArray(json), devices, why) &&
                    finishDevices(devices, Ipv4{10, 77, 1, 1}, why);
    if (error != nullptr)
        *error = ok ? QString() : why;
    return ok ? devices : std::vector<Device>{};
}

} // namespace

TEST(DeviceFile, FieldsAndDefaults) {
    QString error;
    const auto devices = load(R"([
        {},
        {"mac": "02:aa:bb:cc:dd:ee", "address": "10.77.1.1", "version": 3,
         "networkMode": "pppoe", "firmware": "1.2.3.4", "answersVersions": [3],
         "reply": "unicast", "configAnswer": "status1", "guest": true, "av2Port": 65535,
         "hostName": "caf\u00e9", "delayMs": 250, "jitterMs": 10},
        {"networkMode": 0, "firmware": [9, 8, 7, 6], "ipAddress": "192.0.2.7"}
    ])",
                              &error);
    ASSERT_EQ(devices.size(), 3u) << error.toStdString();

    // The first device takes the next free address (10.77.1.1 is the second's).
    EXPECT_EQ(devices[0].address, (Ipv4{10, 77, 1, 2}));
    EXPECT_EQ(devices[0].ipAddress, devices[0].address);
    EXPECT_EQ(devices[0].version, 5);
    EXPECT_EQ(devices[0].adminId, "admin");
    EXPECT_TRUE(devices[0].answersVersions.all());
    EXPECT_EQ(devices[0].configAnswer, ConfigAnswer::Ok);
    EXPECT_EQ(devices[0].route, ReplyRoute::Broadcast);

    const Device &d = devices[1];
    EXPECT_EQ(d.mac, (Mac{0x02, 0xaa, 0xbb, 0xcc, 0xdd, 0xee}));
    EXPECT_EQ(d.address, (Ipv4{10, 77, 1, 1}));
    EXPECT_EQ(d.version, 3);
    EXPECT_EQ(d.networkMode, kWirePppoe);
    EXPECT_EQ(d.firmware, (std::array<std::uint8_t, 4>{1, 2, 3, 4}));
    EXPECT_TRUE(d.answersVersions.test(3));
    EXPECT_EQ(d.answersVersions.count(), 1u);
    EXPECT_EQ(d.route, ReplyRoute::Unicast);
    EXPECT_EQ(d.configAnswer, ConfigAnswer::Status1);
    EXPECT_TRUE(d.guest);
    EXPECT_EQ(d.av2Port, 65535);
    EXPECT_EQ(d.hostName, "caf\xe9"); // one byte per character on the wire
    EXPECT_EQ(d.delayMs, 250);

    EXPECT_EQ(devices[2].networkMode, kWireDhcp);
    EXPECT_EQ(devices[2].ipAddress, (Ipv4{192, 0, 2, 7}));
    EXPECT_EQ(devices[2].address, (Ipv4{10, 77, 1, 3}));
    EXPECT_NE(devices[0].mac, devices[2].mac);
}

TEST(DeviceFile, MistakesAreReported) {
    const char *const bad[] = {
        R"([{"colour": "red"}])",
        R"([{"version": 6}])",
        R"([{"version": 2.5}])",
        R"([{"mac": "02:aa:bb:cc:dd"}])",
        R"([{"ipAddress": "10.77.1"}])",
        R"([{"networkMode": "wifi"}])",
        R"([{"adminId": "ninechars"}])",
        R"([{"adminPassword": "seventeen-chars!!"}])",
        R"([{"firmware": [1, 2, 3]}])",
        R"([{"mac": "02:00:00:00:00:01"}, {"mac": "02:00:00:00:00:01"}])",
        R"([{"address": "10.77.1.9"}, {"address": "10.77.1.9"}])",
        R"({"not": "a list"})",
        R"([1])",
        "[{",
    };
    for (const char *json : bad) {
        QString error;
        EXPECT_TRUE(load(json, &error).empty()) << json;
        EXPECT_FALSE(error.isEmpty()) << json;
    }
}

TEST(GeneratedDevices, ReproducibleAndVaried) {
    auto encoded = [](const std::vector<Device> &devices) {
        std::vector<Bytes> replies;
        for (const Device &d : devices)
            replies.push_back(encodeDeviceInfo(d));
        return replies;
    };
    const auto a = generateDevices(600, 42, 0);
    EXPECT_EQ(encoded(a), encoded(generateDevices(600, 42, 0)));
    EXPECT_NE(encoded(a), encoded(generateDevices(600, 43, 0)));

    std::set<std::pair<int, int>> versionModes;
    std::set<Mac> macs;
    for (const Bytes &reply : encoded(a)) {
        versionModes.insert({reply[4], reply[15]});
        macs.insert(Mac{reply[9], reply[10], reply[11], reply[12], reply[13], reply[14]});
        EXPECT_LE(reply.size(), kMaxReply);
        EXPECT_EQ(reply[5] | (reply[6] << 8), int(reply.size()));
    }
    EXPECT_EQ(versionModes.size(), 12u); // versions 2 to 5 with each of the three modes
    EXPECT_EQ(macs.size(), a.size());

    std::vector<Device> devices = a;
    QString error;
    ASSERT_TRUE(finishDevices(devices, Ipv4{10, 77, 1, 1}, error)) << error.toStdString();
    std::set<Ipv4> addresses;
    for (const Device &d : devices) {
        addresses.insert(d.address);
        EXPECT_NE(d.address[3], 0);
        EXPECT_NE(d.address[3], 255);
        EXPECT_EQ(d.address[0], 10);
        EXPECT_EQ(d.address[1], 77);
    }
    EXPECT_EQ(addresses.size(), devices.size());
}

TEST(LabDeviceFile, LoadsAndCoversTheCases) {
    QFile file(DEVSIM_LAB_DEVICES);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    std::vector<Device> devices;
    QString error;
    ASSERT_TRUE(loadDevices(file.readAll(), devices, error)) << error.toStdString();
    ASSERT_TRUE(finishDevices(devices, Ipv4{10, 77, 1, 1}, error)) << error.toStdString();
    std::set<int> versions, modes;
    int unicast = 0, delayed = 0;
    for (const Device &d : devices) {
        versions.insert(d.version);
        modes.insert(d.networkMode);
        unicast += d.route == ReplyRoute::Unicast;
        delayed += d.delayMs > 0;
        EXPECT_LE(encodeDeviceInfo(d).size(), kMaxReply);
    }
    EXPECT_EQ(versions, (std::set<int>{2, 3, 4, 5}));
    EXPECT_EQ(modes, (std::set<int>{0, 1, 2}));
    EXPECT_GE(unicast, 1);
    EXPECT_GE(delayed, 1);
}

TEST(DeviceFile, ReplyFaults) {
    const auto devices = load(R"([{"lengthField": 20, "sendBytes": 0}, {}])");
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].lengthField, 20);
    EXPECT_EQ(devices[0].sendBytes, 0);
    EXPECT_FALSE(devices[1].lengthField || devices[1].sendBytes);
    EXPECT_TRUE(load(R"([{"sendBytes": 1401}])").empty());
}

// A whole /16 of generated devices: tidy addresses from the base first, then
// the rest of the /16 but the reserved ones; the blocks that make them local
// hold exactly their addresses.
TEST(GeneratedDevices, FillAWholeSixteenAndItsAddressBlocks) {
    std::vector<Device> devices = generateDevices(kMaxGenerated - 1, 3, 0);
    QString error;
    ASSERT_TRUE(finishDevices(devices, Ipv4{10, 77, 1, 1}, error, {Ipv4{10, 77, 0, 1}}))
        << error.toStdString();
    EXPECT_EQ(devices.front().address, (Ipv4{10, 77, 1, 1}));
    EXPECT_EQ(devices[254].address, (Ipv4{10, 77, 2, 1})); // .255 and .0 come last
    std::set<Ipv4> addresses;
    for (const Device &d : devices)
        addresses.insert(d.address);
    EXPECT_EQ(addresses.size(), devices.size());
    EXPECT_EQ(addresses.count(Ipv4{10, 77, 0, 1}), 0u);
    EXPECT_EQ(addresses.count(Ipv4{10, 77, 255, 255}), 0u);
    EXPECT_EQ(addresses.count(Ipv4{10, 77, 0, 0}), 0u);

    // 10.77.0.2 to 10.77.255.254: /31 up to /18 from the start, /18 down to
    // /31 and one /32 to the end.
    const std::vector<AddressBlock> blocks = addressBlocks(devices);
    EXPECT_EQ(blocks.size(), 29u);
    EXPECT_EQ(blocks.front(), (AddressBlock{Ipv4{10, 77, 0, 2}, 31}));
    EXPECT_EQ(blocks.back(), (AddressBlock{Ipv4{10, 77, 255, 254}, 32}));
    std::uint64_t covered = 0;
    for (const AddressBlock &block : blocks)
        covered += std::uint64_t(1) << (32 - block.prefix);
    EXPECT_EQ(covered, devices.size());

    std::vector<Device> one = generateDevices(1, 3, 0);
    ASSERT_TRUE(finishDevices(one, Ipv4{10, 77, 1, 1}, error, {}));
    EXPECT_EQ(addressBlocks(one), (std::vector<AddressBlock>{{Ipv4{10, 77, 1, 1}, 32}}));

    std::vector<Device> tooMany = generateDevices(kMaxGenerated, 3, 0);
    EXPECT_FALSE(finishDevices(tooMany, Ipv4{10, 77, 1, 1}, error, {Ipv4{10, 77, 0, 1}}));
}
