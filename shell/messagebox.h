#pragma once
// The modal OK message box that the front end shows its fixed texts in. Tests
// replace the presenter so that no box blocks them and the texts can be read.

#include <QString>

#include <functional>

class QWidget;

namespace veltrona::ui {

// Shows `text` in a modal message box with an OK button, owned by `owner` (or by
// the active window when null), captioned with the application's name. Returns
// when the user has dismissed it. Call on the user-interface thread only.
void messageBox(QWidget *owner, const QString &text);

using MessageBoxPresenter = std::function<void(QWidget *owner, const QString &text)>;

// Replaces the presenter; an empty one restores the real message box. Returns
// the presenter that was in place.
MessageBoxPresenter setMessageBoxPresenter(MessageBoxPresenter presenter);

} // namespace veltrona::ui
