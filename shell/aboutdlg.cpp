#include "aboutdlg.h"

#include "dialogbuilder.h"
#include "kova.h"
#include "pictures.h"
#include "version.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

CAboutDlg::CAboutDlg(QWidget *parent) : QDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    const veltrona::res::DialogTemplate &tpl =
        *veltrona::res::findDialogTemplate(veltrona::res::IDD_ABOUTBOX);
    veltrona::ui::buildDialog(
        this, tpl, [](const veltrona::res::ControlTemplate &c, QWidget *dialog) -> QWidget * {
            if (c.kind != veltrona::res::ControlKind::Icon)
                return nullptr;
            auto *icon = new QLabel(dialog);
            icon->setObjectName(QStringLiteral("aboutIcon"));
            icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            return icon;
        });
    if (auto *icon = findChild<QLabel *>(QStringLiteral("aboutIcon"))) {
        const int side = std::min(icon->width(), icon->height());
        // The 32-pixel icon scaled to the control; a HiDPI screen gets it drawn
        // from the icon's larger sizes.
        const qreal ratio = devicePixelRatioF();
        const QIcon appIcon = ratio > 1 ? veltrona::res::appIcon()
                                        : QIcon(QString::fromLatin1(veltrona::res::kIconPath));
        icon->setPixmap(appIcon.pixmap(QSize(side, side), ratio));
        setWindowIcon(veltrona::res::appIcon());
    }
    veltrona::ui::controlAs<QLabel>(this, IDC_LIBRARY_LINE)->setText(LibraryLine());
    veltrona::ui::controlAs<QLabel>(this, IDC_PRODUCT_LINE)
        ->setText(ProductLine(veltrona::res::kProductName, veltrona::res::kProductVersionText,
                              veltrona::res::kBuildNumberText));
    veltrona::ui::controlAs<QLabel>(this, IDC_LEGAL_LINE)->setText(LegalNotice());
    setWindowTitle(QString::fromLatin1(veltrona::res::kProductName));
    auto *ok = veltrona::ui::controlAs<QPushButton>(this, 1);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    ok->setFocus();
}

QString CAboutDlg::ProductLine(const char *productName, const char *versionText,
                               const char *buildText) {
    QString version = QString::fromLatin1(versionText);
    version.replace(QStringLiteral(", "), QStringLiteral("."));
    const qsizetype lastDot = version.lastIndexOf(QLatin1Char('.'));
    if (lastDot >= 0)
        version.truncate(lastDot);
    return tr("%1 %2 Build %3")
        .arg(QString::fromLatin1(productName), version, QString::fromLatin1(buildText));
}

QString CAboutDlg::LibraryLine() {
    const KOVA_VERSION v = kova_GetVersion();
    return tr("%1 Version: %2. %3. %4. %5")
        .arg(tr("KOVA Library"))
        .arg(static_cast<int>(v.major))
        .arg(static_cast<int>(v.minor))
        .arg(static_cast<int>(v.release))
        .arg(static_cast<int>(v.build));
}

QString CAboutDlg::LegalNotice() {
    return tr("Copyright (C) 2026 Veltrona");
}
