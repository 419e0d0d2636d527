#include "veltronaapp.h"

#include "skinbutton.h"
#include "veltronadlg.h"
#include "version.h"

#include <QCoreApplication>

bool CVeltronaApp::InitInstance() {
    if (!m_platform.canCreateSocket()) {
        m_platform.messageBox(nullptr, QCoreApplication::translate(
                                           "CVeltronaApp", veltrona::res::kSocketsInitFailedText));
        return false;
    }
    CVeltronaDlg dialog(nullptr, m_library, m_platform);
    {
        const veltrona::ui::MainWindowRegistration registration(&dialog);
        m_platform.runModal(dialog);
    }
    // The window's destruction closes the library connection, so no reply
    // reaches it once it is gone.
    return false;
}
