#include "app/Mainform.h"

#include <QApplication>
#include <QMessageBox>
#include <QProxyStyle>
#include <QSocketNotifier>

#include <climits>
#include <exception>

#ifdef _WIN32
#include "app/Windowsquit.h"
#else
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

// Hints appear at once and stay until the pointer leaves.
class PromptHintStyle : public QProxyStyle
{
public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_ToolTip_WakeUpDelay || hint == SH_ToolTip_FallAsleepDelay)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

#ifndef _WIN32
// A signal handler may only write to a descriptor; the window is closed from the
// event loop when the byte arrives.
int signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[0], &byte, 1);
}

void installTerminationHandlers(QObject *owner, TformMain *window)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[1], &byte, 1);
        window->menuExitClick(); // settings are stored as on "Exit"
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // The terminal it was started from has closed: by default that would end the
    // program on the spot, leaving the port in exclusive mode.
    sigaction(SIGHUP, &action, nullptr);
}
#endif

} // namespace

int main(int argc, char *argv[])
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const CommandLineChoice choice = ParseCommandLine(args);
    commandLine = choice.handleText;
    commandLinePort = choice.port;

    QApplication app(argc, argv);
    // The title is the application's name, not its display name: the window system
    // would append a display name to every window's caption.
    QApplication::setApplicationName(QString::fromLatin1(applicationTitle));
    QApplication::setFont(windowFont());
    QApplication::setStyle(new PromptHintStyle);
    try {
        TformMain window;
        formMain = &window;
#ifdef _WIN32
        installWindowsQuitHandlers(&app, &window);
#else
        installTerminationHandlers(&app, &window);
#endif
        if (!choice.error.isEmpty())
            QMessageBox::warning(&window, QString::fromLatin1(applicationTitle), choice.error);
        window.show();
        return app.exec();
    } catch (const std::exception &e) {
        QMessageBox::critical(nullptr, QString::fromLatin1(applicationTitle),
                              QString::fromLocal8Bit(e.what()));
    } catch (...) {
        QMessageBox::critical(nullptr, QString::fromLatin1(applicationTitle), QString());
    }
    return EXIT_FAILURE;
}
