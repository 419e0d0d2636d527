#pragma once
// Helpers of the main window's tests: device rows, a library of stand-in
// items whose MAC addresses a table gives, and a platform that records
// message boxes.

#include "devicelistctrl.h"
#include "kovalibrary.h"
#include "platform.h"

#include <QCoreApplication>
#include <QStringList>
#include <QThread>

#include <cstring>
#include <map>
#include <string>

namespace guitest {

using Mac = std::array<uint8_t, 6>;

inline Mac mac(uint8_t last, uint8_t first = 0x02) {
    return {first, 0x4B, 0x56, 0x00, 0x00, last};
}

template <size_t N> void put(char (&field)[N], const std::string &text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(N, text.size()));
}

struct RowFields {
    Mac mac{};
    std::string ip = "10.0.0.1";
    std::string model = "KV-1";
    std::string host = "cam";
    int32_t mode = KOVA_MODE_STATIC;
    uint16_t web = 80;
    uint16_t av1 = 554;
    uint16_t av2 = 0;
    uint16_t conf = 0;
    uint8_t av1Protocol = 0, av2Protocol = 0, av1Flag = 0, av2Flag = 0;
    uint8_t fw[3] = {1, 2, 3};
    std::string serial = "SN1";
};

inline DEVICE_ROW makeRow(const RowFields &fields) {
    DEVICE_ROW row{};
    row.mode = fields.mode;
    std::memcpy(row.mac, fields.mac.data(), 6);
    put(row.ipAddress, fields.ip);
    put(row.modelName, fields.model);
    put(row.hostName, fields.host);
    row.webPort = fields.web;
    row.av1Port = fields.av1;
    row.av2Port = fields.av2;
    row.conf = fields.conf;
    row.av1Protocol = fields.av1Protocol;
    row.av2Protocol = fields.av2Protocol;
    row.av1Flag = fields.av1Flag;
    row.av2Flag = fields.av2Flag;
    row.fwMajor = fields.fw[0];
    row.fwMinor = fields.fw[1];
    row.fwPatch = fields.fw[2];
    put(row.serialNumber, fields.serial);
    return row;
}

// A library of stand-in items: never dereferenced, their MAC addresses come
// from a table that the list reads as their device information. Every other
// call reaches the library itself.
class FakeItems : public veltrona::KovaLibrary {
public:
    FakeItems() = default;
    FakeItems(const FakeItems &) = delete;
    FakeItems &operator=(const FakeItems &) = delete;

    HKOVAITEM make(const Mac &mac) {
        HKOVAITEM item = reinterpret_cast<HKOVAITEM>(uintptr_t(m_macs.size() + 1) * 64);
        m_macs[item] = mac;
        return item;
    }
    // An item whose device information cannot be read.
    HKOVAITEM broken() { return reinterpret_cast<HKOVAITEM>(uintptr_t(1000000 + m_broken++) * 64); }
    bool read(HKOVAITEM item, uint8_t out[6]) const {
        const auto found = m_macs.find(item);
        if (found == m_macs.end())
            return false;
        std::memcpy(out, found->second.data(), 6);
        return true;
    }
    int32_t getDeviceInfo(HKOVAITEM item, KOVA_DEVICE_INFO *info) override {
        *info = KOVA_DEVICE_INFO{};
        return read(item, info->mac) ? KOVA_OK : KOVA_ERR_BAD_HANDLE;
    }

private:
    std::map<HKOVAITEM, Mac> m_macs;
    int m_broken = 0;
};

// The real platform, except that every message box is recorded instead of
// shown, with the thread it ran on.
class MessageRecorder : public veltrona::ui::Platform {
public:
    MessageRecorder() = default;
    MessageRecorder(const MessageRecorder &) = delete;
    MessageRecorder &operator=(const MessageRecorder &) = delete;

    void messageBox(QWidget *owner, const QString &text) override {
        texts << text;
        owners << owner;
        if (QThread::currentThread() != QCoreApplication::instance()->thread())
            offGuiThread = true;
        if (onMessage)
            onMessage(text);
    }

    // The warning before a change: recorded, and answered with `proceed`.
    bool askToProceed(QWidget *, const QString &text, const QString &back,
                      const QString &proceedText) override {
        questions << text;
        buttons = {back, proceedText};
        return proceed;
    }

    // The test's networks are not this host's: no live host holds an address.
    void findLiveHolders(
        QObject *, std::vector<uint32_t>, std::vector<veltrona::change::HeardDevice>,
        std::function<void(std::vector<veltrona::change::HeardDevice>)> found) override {
        found({});
    }

    // The host's checks: the findings a test sets (none by default), and the
    // bindings they were asked for.
    void checkHost(QObject *, const QByteArray &binding,
                   std::function<void(QStringList)> found) override {
        hostChecks << binding;
        found(hostFindings);
    }

    QStringList texts;
    QList<QWidget *> owners;
    QStringList hostFindings;
    QList<QByteArray> hostChecks;
    QStringList questions;
    QStringList buttons;
    bool proceed = false;
    bool offGuiThread = false;
    std::function<void(const QString &)> onMessage;
};

inline QStringList columnTexts(const CDeviceListCtrl &list, int column) {
    QStringList texts;
    for (int row = 0; row < list.GetItemCount(); ++row)
        texts << list.GetItemText(row, column);
    return texts;
}

} // namespace guitest
