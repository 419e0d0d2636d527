#pragma once
// Where simulated devices come from: a JSON device file, or a reproducible
// generator; and the JSON text of the simulator's log lines.

#include "protocol.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <vector>

namespace kovasim {

// Field names of a device object in a device file, all optional. The file is a
// JSON list of such objects (or an object whose "devices" member is that list).
//   mac                 "02:46:00:00:00:01"          (default: derived from the position)
//   address             "10.77.1.1"                  the lab address the device answers from
//                                                    (default: the next free one from
//                                                    --base-address)
//   version             2..5                         protocol version byte (5)
//   deviceByte          0..255                       reply byte 8 (1)
//   byte16              0..255                       reply byte 16 (0)
//   model, hostName, domainName                      texts
//   networkMode         "dhcp" | "static" | "pppoe" | 0 | 1 | 2 (wire coding)
//   ipAddress, netMask, gateway, dnsServer           dotted IPv4 (ipAddress defaults to address)
//   pppoeUserName, pppoePassword, pppoeServiceName   texts
//   mtu                 0..4294967295                (1492)
//   dnsMode             0 automatic | 1 manual
//   pppoeDnsServer      dotted IPv4
//   webPort, av1Port, av2Port, confPort   0..65535
//   av1Protocol, av2Protocol   0 N/A, 1 vsm, 2 rtp, 3 3gpp
//   av1Flag, av2Flag    0 | 1
//   firmware            "1.2.3.0" or [1, 2, 3, 0]
//   serialNumber        text, at most 16 bytes are sent
//   guest               true | false
//   adminId, adminPassword     credentials the device accepts ("admin", "admin")
//   filler              0..64: unread bytes between the PPPoE DNS server and the tail (0)
//   answersVersions     [2, 3, ...] request version bytes it answers, or "all" (all)
//   delayMs, jitterMs   reply delay and random extra delay in milliseconds (0, 0)
//   reply               "broadcast" (to 255.255.255.255:32153) | "unicast" (to the sender)
//   configAnswer        "ok" (apply, kind 0) | "status1" (kind 1, nothing applied) | "none"
//                       | "ignore" (kind 0, "Success", but nothing applied)
//   movesToNewAddress   true: once a request gives it a new static IP address, the
//                       device answers from that address, its answer to that
//                       request included (false)
// Texts are taken byte for byte (Latin-1).
bool loadDevices(const QByteArray &json, std::vector<Device> &devices, QString &error);

// count varied devices (all versions, all network modes, varied texts, ports and
// firmware), the same for the same seed; each answers from a new static address
// once given one (movesToNewAddress).
std::vector<Device> generateDevices(int count, std::uint32_t seed, int jitterMs);

// Gives every device without an address the next free one from base onwards
// (skipping .0 and .255 octets), fills empty ipAddress fields with the device's
// address, and checks that MAC addresses and addresses are unique.
bool finishDevices(std::vector<Device> &devices, const Ipv4 &base, QString &error);

// Decoded fields of a request for the log.
QJsonObject describeRequest(const Request &request);

// One compact JSON line, newline included.
QByteArray jsonLine(const QJsonObject &object);

} // namespace kovasim
