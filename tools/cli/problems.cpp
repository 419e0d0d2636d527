#include "problems.h"

#include "printable.h"

namespace veltrona::cli {

namespace {

using change::Code;
using change::Field;

std::string fieldName(Field field, Terms terms) {
    const bool options = terms == Terms::Options;
    switch (field) {
    case Field::Mode:
        return options ? "--mode" : "new_mode";
    case Field::Address:
        return options ? "--ip" : "new_ip";
    case Field::Netmask:
        return options ? "--netmask" : "new_netmask";
    case Field::Gateway:
        return options ? "--gateway" : "new_gateway";
    case Field::Dns:
        return options ? "--dns" : "new_dns";
    case Field::PppoeUser:
        return options ? "--pppoe-user" : "new_pppoe_user";
    case Field::PppoeService:
        return options ? "--pppoe-service" : "new_pppoe_service";
    case Field::PppoePassword:
        return "the PPPoE password";
    case Field::Mtu:
        return options ? "--mtu" : "new_mtu";
    case Field::DnsMode:
        return options ? "--dns-mode" : "new_dns_mode";
    case Field::PppoeDns:
        return options ? "--pppoe-dns" : "new_pppoe_dns";
    case Field::HostName:
        return options ? "--host" : "new_host";
    case Field::DomainName:
        return options ? "--domain" : "new_domain";
    case Field::Device:
        break;
    }
    return "the device";
}

std::string what(Field field) {
    switch (field) {
    case Field::Netmask:
        return "netmask";
    case Field::Gateway:
        return "gateway";
    case Field::Dns:
        return "DNS server";
    case Field::HostName:
        return "host name";
    case Field::DomainName:
        return "domain name";
    default:
        return "address";
    }
}

// The address a sentence starts with: "10.1.2.3", "The gateway 10.1.2.3".
std::string subject(Field field, const std::string &address) {
    return field == Field::Gateway ? "The gateway " + address
           : field == Field::Dns   ? "The DNS server " + address
                                   : address;
}

std::string value(const change::Problem &problem, std::size_t i) {
    return i < problem.values.size() ? problem.values[i] : std::string();
}

std::string sentence(const change::Problem &p, Terms terms) {
    const std::string v0 = value(p, 0), v1 = value(p, 1), v2 = value(p, 2);
    switch (p.code) {
    case Code::NotAnAddress:
        return "The " + what(p.field) + " is not an address.";
    case Code::ThisNetwork:
        return subject(p.field, v0) + " is in 0.0.0.0/8, not a device address.";
    case Code::LimitedBroadcast:
        return subject(p.field, v0) + " is the broadcast address, not a device address.";
    case Code::Loopback:
        return subject(p.field, v0) + " is a loopback address.";
    case Code::Multicast:
        return subject(p.field, v0) + " is a multicast address.";
    case Code::Reserved:
        return subject(p.field, v0) + " is a reserved address.";
    case Code::NetworkAddress:
        return subject(p.field, v0) + " is the network address of the subnet " + v1 + ".";
    case Code::BroadcastAddress:
        return subject(p.field, v0) + " is the broadcast address of the subnet " + v1 + ".";
    case Code::NotANetmask:
        return v0 == "0.0.0.0" ? v0 + " is not a netmask."
                               : v0 + " is not a netmask: its one bits must come first, "
                                      "without a gap.";
    case Code::GatewayOutside:
        return "The gateway " + v0 + " is outside the subnet " + v1 + ".";
    case Code::GatewayIsAddress:
        return "The gateway " + v0 + " is the device's own new address.";
    case Code::HeldBy:
        return v0 + " is held by the device " + v1 + (v2.empty() ? "" : " (" + v2 + ")") + ".";
    case Code::GivenTwice:
        return v0 + " is given twice in the plan, also to row " + v1 + " (" + v2 + ").";
    case Code::MoveCycle: {
        std::string names;
        for (std::size_t i = 0; i + 2 < p.values.size(); i += 3)
            names += (names.empty() ? "" : ", ") + std::string("row ") + p.values[i] + " (" +
                     p.values[i + 1] + ") takes " + p.values[i + 2];
        return "a cycle of moves cannot be applied (" + names +
               "): move one device to a free address first.";
    }
    case Code::HeardTwice:
        return v0 + " answered from " +
               (p.values.size() == 5 ? std::string("two")
                                     : std::to_string((p.values.size() - 1) / 2)) +
               " places (" + placesText(p.values, 1) +
               "): give --bind with the address of the network to change it on";
    case Code::TwoAddresses:
        return v0 + " answered from two addresses on one network (" + v1 + " and " + v2 +
               "): its requests could reach either device; it is not changed";
    case Code::OutsideSegment: {
        std::string networks;
        for (std::size_t i = 2; i < p.values.size(); ++i)
            networks += (i == 2 ? "" : ", ") + p.values[i];
        return v0 + " is outside the networks of " + v1 + " (" + networks +
               "), where the device was heard: it could not be reached there.";
    }
    case Code::NotSentInMode:
        return fieldName(p.field, terms) + ": not sent in " + v0 +
               (v1.empty()
                    ? ""
                    : " (the device is in " + v0 + "; give " + fieldName(Field::Mode, terms) + ")");
    case Code::CurrentNotAddress:
        return fieldName(p.field, terms) +
               ": the device's current value is not an address; give a new one";
    case Code::CurrentTooLong:
        return fieldName(p.field, terms) + ": the device's current " + what(p.field) +
               " is longer than " + v0 + " characters; give a new one";
    case Code::ControlCharacter:
        return fieldName(p.field, terms) + ": the " + what(p.field) + " holds a control character";
    case Code::FormulaStart:
        return fieldName(p.field, terms) + ": the " + what(p.field) + " starts with '" + v0 +
               "', which spreadsheets take for a formula";
    }
    return "unknown problem";
}

} // namespace

std::string placesText(const std::vector<std::string> &values, std::size_t from) {
    std::string text;
    for (std::size_t i = from; i + 1 < values.size(); i += 2) {
        const std::string place =
            values[i + 1].empty() ? values[i] : values[i] + " on " + values[i + 1];
        text += (i == from ? "" : i + 3 >= values.size() ? " and " : ", ") + place;
    }
    return text;
}

std::string problemText(const change::Problem &problem, Terms terms) {
    const std::string prefix =
        terms == Terms::Columns && problem.row != 0
            ? "row " + std::to_string(problem.row) +
                  (problem.mac.empty() ? std::string() : " (" + problem.mac + ")") + ": "
            : std::string();
    // Host names and interface names come from the network.
    return printable(prefix + sentence(problem, terms));
}

} // namespace veltrona::cli
