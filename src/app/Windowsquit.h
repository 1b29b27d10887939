#pragma once

// Quitting from outside the window on Windows, where the POSIX signals are not
// sent: Ctrl+C or Ctrl+Break in a console, the console window closed, the user
// logging off, the machine shutting down. The window is closed as by "Exit", so
// that the settings are stored.
#ifdef _WIN32
class QGuiApplication;
class TformMain;

void installWindowsQuitHandlers(QGuiApplication *app, TformMain *window);

// One console control event, as the handler thread the system starts for it sees
// it: true for the events that end the program, after asking the window to close.
// After a close, log-off or shut-down the system ends the process as soon as the
// handler returns, so for those it waits (at most waitMs) until the window has
// closed and stored the settings.
bool HandleConsoleEvent(TformMain *window, unsigned long type, unsigned long waitMs);
#endif
