#pragma once
// Builds a dialog's widgets from its template (resources/dialog_templates.h),
// converting dialog units with the dialog font's average character width and
// height: x = dlu * width / 4, y = dlu * height / 8.

#include "dialog_templates.h"

#include <QFont>
#include <QRect>
#include <QString>

#include <functional>
#include <initializer_list>
#include <utility>

class QWidget;

namespace veltrona::ui {

// The font that stands in for a template's font: "Arial" maps to Liberation
// Sans, "System" to a bold sans of about the same 8 x 16 pixel cell.
QFont dialogFont(const res::DialogTemplate &dialog);

class DialogUnits {
public:
    explicit DialogUnits(const QFont &font);
    int x(int dlu) const { return dlu * m_baseWidth / 4; }
    int y(int dlu) const { return dlu * m_baseHeight / 8; }
    QRect rect(int x, int y, int cx, int cy) const;

private:
    int m_baseWidth;
    int m_baseHeight;
};

// A caption or control text of a template as the user reads it: translated
// into the language of the installed translations, as it stands in English.
QString templateText(const char *text);

// Makes the widget for one control, or returns nullptr to let the builder make
// its standard widget for the control's kind.
using ControlFactory = std::function<QWidget *(const res::ControlTemplate &, QWidget *parent)>;

// Keeps a fixed-size top-level window in its normal state and at its own size:
// a request of the window system to maximize it or make it full screen is
// undone at once. Under Wayland the platform window also takes any size the
// compositor configures it with (a window that answers a maximized configure
// with another size is disconnected by the compositor, and Qt's own title bar
// there offers maximize on every window) before the widget goes back to its
// size; elsewhere the fixed size keeps window managers from offering it.
void keepNormalState(QWidget *window);

// Gives `dialog` the template's font, caption and fixed client size and creates
// its controls in template order: geometry, translated text, visibility, enabled state
// and tab order as the template says. Radio buttons from one with the Group
// style up to the next such one share an exclusive QButtonGroup. Group boxes
// are put behind the other controls. Enter on a focused push button presses
// that button; elsewhere it is left to the dialog (its default button).
// Returns the dialog units used.
DialogUnits buildDialog(QWidget *dialog, const res::DialogTemplate &tpl,
                        const ControlFactory &factory = {});

// The control with the given template id among the dialog's children.
QWidget *controlById(const QWidget *dialog, int id);

template <typename T> T *controlAs(const QWidget *dialog, int id) {
    return qobject_cast<T *>(controlById(dialog, id));
}

// Gives each control (by template id) the accessible name that a screen reader
// announces for it: for controls whose text is a label beside them, or none.
void nameControls(const QWidget *dialog, std::initializer_list<std::pair<int, QString>> names);

} // namespace veltrona::ui
