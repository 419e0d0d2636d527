#include "messagebox.h"

#include <QApplication>
#include <QMessageBox>

namespace veltrona::ui {

namespace {

MessageBoxPresenter &presenter() {
    static MessageBoxPresenter current;
    return current;
}

} // namespace

void messageBox(QWidget *owner, const QString &text) {
    if (presenter()) {
        presenter()(owner, text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok,
                    owner ? owner : QApplication::activeWindow());
    box.exec();
}

MessageBoxPresenter setMessageBoxPresenter(MessageBoxPresenter replacement) {
    MessageBoxPresenter previous = std::move(presenter());
    presenter() = std::move(replacement);
    return previous;
}

} // namespace veltrona::ui
