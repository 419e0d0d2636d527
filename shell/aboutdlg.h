#pragma once
// The about box: product name, version and build, a legal notice and the
// version of the KOVA library.

#include <QDialog>
#include <QString>

class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int IDC_PRODUCT_LINE = 1037;
    static constexpr int IDC_LEGAL_LINE = 1038;
    static constexpr int IDC_LIBRARY_LINE = 1039;

    explicit CAboutDlg(QWidget *parent = nullptr);

    // "<name> <version> Build <build>", the version being the comma-separated
    // version text with ", " turned into "." and its last field dropped.
    static QString ProductLine(const char *productName, const char *versionText,
                               const char *buildText);
    // "KOVA Library Version: <major>. <minor>. <release>. <build>".
    static QString LibraryLine();
    static QString LegalNotice();
};
