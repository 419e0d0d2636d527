#include "platform.h"

#include "neighbours.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFutureWatcher>
#include <QMessageBox>
#include <QPromise>
#include <QPushButton>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace veltrona::ui {

Platform &Platform::real() {
    static Platform platform;
    return platform;
}

void Platform::messageBox(QWidget *owner, const QString &text) {
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok,
                    owner ? owner : QApplication::activeWindow());
    box.exec();
}

bool Platform::askToProceed(QWidget *owner, const QString &text, const QString &back,
                            const QString &proceed) {
    QMessageBox box(QMessageBox::Warning, QApplication::applicationName(), text,
                    QMessageBox::NoButton, owner ? owner : QApplication::activeWindow());
    QPushButton *backButton = box.addButton(back, QMessageBox::RejectRole);
    QPushButton *proceedButton = box.addButton(proceed, QMessageBox::AcceptRole);
    box.setDefaultButton(backButton);
    box.setEscapeButton(backButton);
    box.exec();
    return box.clickedButton() == proceedButton;
}

int Platform::runModal(QDialog &dialog) {
    return dialog.exec();
}

void Platform::openUrl(const QString &url) {
    QDesktopServices::openUrl(QUrl(url));
}

std::vector<Platform::Address> Platform::hostAddresses() {
    std::vector<Address> addresses;
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return addresses;
    for (const ifaddrs *entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        const auto *in = reinterpret_cast<const sockaddr_in *>(entry->ifa_addr);
        const auto *bytes = reinterpret_cast<const uint8_t *>(&in->sin_addr.s_addr);
        addresses.push_back(Address{bytes[0], bytes[1], bytes[2], bytes[3]});
    }
    freeifaddrs(list);
    return addresses;
}

void Platform::findLiveHolders(QObject *context, std::vector<uint32_t> addresses,
                               std::vector<change::HeardDevice> heard,
                               std::function<void(std::vector<change::HeardDevice>)> found) {
    using Holders = std::vector<change::HeardDevice>;
    if (!change::mayHaveLiveHolders(addresses, heard)) {
        found({});
        return;
    }
    // The pool thread works on its own copies and hands its result over
    // through the future; the watcher, owned by `context`, goes with it, and
    // with it the call of `found`.
    auto promise = std::make_shared<QPromise<Holders>>();
    auto *watcher = new QFutureWatcher<Holders>(context);
    QObject::connect(watcher, &QFutureWatcherBase::finished, watcher,
                     [watcher, found = std::move(found)] {
                         watcher->deleteLater();
                         found(watcher->future().resultCount() > 0 ? watcher->result() : Holders{});
                     });
    promise->start();
    watcher->setFuture(promise->future());
    QThreadPool::globalInstance()->start(
        [promise, addresses = std::move(addresses), heard = std::move(heard)] {
            try {
                promise->addResult(change::liveHolders(addresses, heard, std::chrono::seconds(1)));
            } catch (const std::exception &) {
                // An unreadable neighbour table: no live holder is known.
            }
            promise->finish();
        });
}

bool Platform::canCreateSocket() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

void Platform::wait(QObject *context, int ms, std::function<void()> then) {
    QTimer::singleShot(ms, Qt::CoarseTimer, context, std::move(then));
}

} // namespace veltrona::ui
