#ifdef _WIN32
#include "app/Windowsquit.h"

#include "app/Mainform.h"

#include <QGuiApplication>
#include <QMetaObject>
#include <QPointer>
#include <QSessionManager>

#include <memory>
#include <windows.h>

namespace {

// The system allows a console's close about five seconds before it ends the
// process; the settings are stored well within that.
constexpr DWORD closeWaitMs = 4500;

QPointer<TformMain> quitWindow;

BOOL WINAPI onConsoleEvent(DWORD type)
{
    return HandleConsoleEvent(quitWindow.data(), type, closeWaitMs) ? TRUE : FALSE;
}

} // namespace

bool HandleConsoleEvent(TformMain *window, unsigned long type, unsigned long waitMs)
{
    bool endsProcess = false;
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        endsProcess = true;
        break;
    default:
        return false;
    }
    if (!window)
        return true; // nothing left to close: let the program end
    // The window belongs to the user-interface thread; this one only asks it.
    std::shared_ptr<void> closed(CreateEventW(nullptr, TRUE, FALSE, nullptr), [](void *h) {
        if (h)
            CloseHandle(h);
    });
    QMetaObject::invokeMethod(
        window,
        [window, closed] {
            window->menuExitClick();
            if (closed)
                SetEvent(closed.get());
        },
        Qt::QueuedConnection);
    if (endsProcess && closed)
        WaitForSingleObject(closed.get(), waitMs);
    return true;
}

void installWindowsQuitHandlers(QGuiApplication *app, TformMain *window)
{
    quitWindow = window;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    // A window program learns of a log-off or shut-down from the session manager.
    QObject::connect(app, &QGuiApplication::commitDataRequest, window,
                     [window](QSessionManager &) { window->menuExitClick(); });
}
#endif
