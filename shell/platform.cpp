#include "platform.h"

#include "dialogbuilder.h"
#include "hostcheck.h"
#include "neighbours.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFutureWatcher>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPromise>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <system_error>
#include <thread>

namespace veltrona::ui {

Platform &Platform::real() {
    static Platform platform;
    return platform;
}

void Platform::messageBox(QWidget *owner, const QString &text) {
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok,
                    owner ? owner : QApplication::activeWindow());
    keepNormalState(&box);
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
    keepNormalState(&box);
    box.exec();
    return box.clickedButton() == proceedButton;
}

int Platform::runModal(QDialog &dialog) {
    return dialog.exec();
}

void Platform::openUrl(QObject *context, const QString &url, std::function<void(bool)> done) {
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty()) {
        done(QDesktopServices::openUrl(QUrl(url)));
        return;
    }
    // xdg-open ends with a failure status when no program takes the address
    // (no browser); that is known only once it ends. The process is not the
    // window's: closing the window neither waits for it nor ends the browser.
    auto *process = new QProcess;
    const QPointer<QObject> receiver(context);
    auto finish = [process, receiver, done](bool opened) {
        process->deleteLater();
        if (receiver)
            done(opened);
    };
    QObject::connect(process, &QProcess::finished, process,
                     [process, finish](int status, QProcess::ExitStatus how) {
                         process->disconnect();
                         finish(how == QProcess::NormalExit && status == 0);
                     });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, finish](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart)
                             return;
                         process->disconnect();
                         finish(false);
                     });
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->start(opener, {url});
}

QStringList describeFindings(const std::vector<diagnosis::HostFinding> &findings) {
    using Finding = diagnosis::HostFinding;
    const auto q = [](const std::string &value) { return QString::fromStdString(value); };
    QStringList sentences;
    for (const Finding &finding : findings) {
        // Notes and checks that could not be made are the doctor's to tell.
        if (finding.status != diagnosis::Status::Problem &&
            finding.status != diagnosis::Status::Warning)
            continue;
        switch (finding.kind) {
        case Finding::Kind::NoInterface:
            sentences << QCoreApplication::translate(
                "HostFindings", "No network interface is up with an IPv4 address that can "
                                "broadcast.");
            break;
        case Finding::Kind::BindAddressMissing:
            sentences << QCoreApplication::translate(
                             "HostFindings",
                             "No interface of this host holds the bound address %1.")
                             .arg(q(finding.address));
            break;
        case Finding::Kind::NoLink:
            sentences << QCoreApplication::translate("HostFindings",
                                                     "The interface %1 (%2) has no link.")
                             .arg(q(finding.interfaceName), q(finding.address));
            break;
        case Finding::Kind::StrictReversePath:
            sentences << QCoreApplication::translate(
                             "HostFindings",
                             "Strict reverse-path filtering on %1 drops the replies of devices "
                             "outside %2.")
                             .arg(q(finding.interfaceName), q(finding.network));
            break;
        case Finding::Kind::PortShared: {
            QStringList programs;
            for (const diagnosis::PortHolder &holder : finding.holders)
                programs << q(holder.command);
            sentences << QCoreApplication::translate("HostFindings",
                                                     "Other programs hold UDP port 32153: %1.")
                             .arg(programs.join(QStringLiteral(", ")));
            break;
        }
        case Finding::Kind::FirewallBlocks:
            sentences << (finding.block.partly
                              ? QCoreApplication::translate(
                                    "HostFindings",
                                    "The firewall (%1 %2, chain %3) keeps some of the "
                                    "devices' replies out.")
                              : QCoreApplication::translate(
                                    "HostFindings",
                                    "The firewall (%1 %2, chain %3) keeps the devices' "
                                    "replies out."))
                             .arg(q(finding.block.family), q(finding.block.table),
                                  q(finding.block.chain));
            break;
        case Finding::Kind::NotChecked:
            break;
        }
    }
    return sentences;
}

namespace {

// What a thread's work hands over to the user-interface thread. The result
// passes under a lock of the standard library, which the thread sanitizer sees
// (Qt's own locks it cannot see into); the promise only tells the watcher that
// it is there.
template <typename Result> struct Handover {
    std::mutex mutex;
    Result result{};
    QPromise<void> done;
};

// Runs `work` on a thread of its own and `then` with its result on the
// user-interface thread, never once `context` is gone (the watcher goes with
// it). Nothing waits for the thread, which keeps what it uses alive itself;
// work that throws, or no thread to run it on, gives an empty result.
template <typename Result>
void runOffUiThread(QObject *context, std::function<Result()> work,
                    std::function<void(Result)> then) {
    const auto handover = std::make_shared<Handover<Result>>();
    auto *watcher = new QFutureWatcher<void>(context);
    QObject::connect(watcher, &QFutureWatcherBase::finished, watcher,
                     [watcher, handover, then = std::move(then)] {
                         watcher->deleteLater();
                         Result result;
                         {
                             const std::lock_guard<std::mutex> lock(handover->mutex);
                             result = std::move(handover->result);
                         }
                         then(std::move(result));
                     });
    handover->done.start();
    watcher->setFuture(handover->done.future());
    try {
        std::thread([handover, work = std::move(work)] {
            Result result{};
            try {
                result = work();
            } catch (const std::exception &) {
            }
            {
                const std::lock_guard<std::mutex> lock(handover->mutex);
                handover->result = std::move(result);
            }
            handover->done.finish();
        }).detach();
    } catch (const std::system_error &) {
        handover->done.finish();
    }
}

} // namespace

void Platform::checkHost(QObject *context, const QByteArray &binding,
                         std::function<void(QStringList)> found) {
    const std::string bindAddress = binding == "ANY" ? std::string() : binding.toStdString();
    // Reads /proc and, as root, the firewall (at most a few seconds). Checks
    // that fail find nothing; the text then points to the doctor.
    runOffUiThread<std::vector<diagnosis::HostFinding>>(
        context, [bindAddress] { return diagnosis::checkHost(bindAddress); },
        [found = std::move(found)](std::vector<diagnosis::HostFinding> findings) {
            found(describeFindings(findings));
        });
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
    if (!change::mayHaveLiveHolders(addresses, heard)) {
        found({});
        return;
    }
    // Ends within about a second. An unreadable neighbour table: no live
    // holder is known.
    runOffUiThread<std::vector<change::HeardDevice>>(
        context,
        [addresses = std::move(addresses), heard = std::move(heard)] {
            return change::liveHolders(addresses, heard, change::kNeighbourWait);
        },
        std::move(found));
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
