// eg-wintool.exe: a small Windows program for the tests under Wine, plain WinAPI.
//   with EG_WINTOOL_RECORD set: appends its own command line to that file and exits
//     with the code in EG_WINTOOL_EXIT (0 when unset): the stand-in for a loader
//     or a document viewer that the application starts
//   find-window <title> <seconds>: exits 0 once a top-level window of that title
//     shows, 1 when none does in time
//   close-window <title> <seconds>: the same, then asks the window to close, as
//     the user clicking its close box would
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::wstring environment(const wchar_t *name)
{
    wchar_t value[1024];
    const DWORD n = GetEnvironmentVariableW(name, value, 1024);
    return n > 0 && n < 1024 ? std::wstring(value, n) : std::wstring();
}

int record(const std::wstring &file)
{
    const wchar_t *line = GetCommandLineW();
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(size_t(bytes > 0 ? bytes - 1 : 0), '\0');
    if (bytes > 1)
        WideCharToMultiByte(CP_UTF8, 0, line, -1, &utf8[0], bytes, nullptr, nullptr);
    utf8 += "\n";
    HANDLE h = CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return 100;
    DWORD written = 0;
    WriteFile(h, utf8.data(), DWORD(utf8.size()), &written, nullptr);
    CloseHandle(h);
    const std::wstring code = environment(L"EG_WINTOOL_EXIT");
    return code.empty() ? 0 : _wtoi(code.c_str());
}

HWND waitForWindow(const wchar_t *title, int seconds)
{
    for (int i = 0; i < seconds * 10; ++i) {
        if (HWND w = FindWindowW(nullptr, title))
            if (IsWindowVisible(w))
                return w;
        Sleep(100);
    }
    return nullptr;
}

} // namespace

int main()
{
    const std::wstring recordFile = environment(L"EG_WINTOOL_RECORD");
    if (!recordFile.empty())
        return record(recordFile);
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc != 4) {
        std::fprintf(stderr, "usage: eg-wintool find-window|close-window TITLE SECONDS\n");
        return 2;
    }
    const std::wstring mode = argv[1];
    HWND w = waitForWindow(argv[2], _wtoi(argv[3]));
    if (!w) {
        std::fprintf(stderr, "eg-wintool: no window of that title\n");
        return 1;
    }
    if (mode == L"close-window")
        PostMessageW(w, WM_CLOSE, 0, 0);
    return 0;
}
