#ifdef _WIN32
#include "serial/Win32Serial.h"

namespace win32serial {

namespace {

HANDLE createPortFile(const wchar_t *path)
{
    // No sharing: a second program on the sensor's line would take replies meant
    // for us. Synchronous I/O: the port model is "how many bytes are queued, read
    // exactly those", which never waits.
    return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

} // namespace

const OpenCalls &systemOpenCalls()
{
    static const OpenCalls calls = {createPortFile, SetupComm, SetCommTimeouts, CloseHandle};
    return calls;
}

HANDLE openPort(const std::wstring &path, DWORD *error, const OpenCalls &calls)
{
    *error = 0;
    HANDLE h = calls.createFile(path.c_str());
    if (h == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return h;
    }
    // The queue sizes are a request the driver may turn down; it then keeps its
    // own, which is no reason to give the port up.
    calls.setupComm(h, queueBytes, queueBytes);
    // A fresh handle keeps whatever time-outs the last program left, and with none
    // set a read waits until its whole buffer is filled. These return at once with
    // what is queued, and give a write its bounded time. A port that will not take
    // them would freeze the window on its first read: it counts as not opened.
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = writeTimeoutMs;
    if (!calls.setCommTimeouts(h, &timeouts)) {
        *error = GetLastError();
        calls.closeHandle(h);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

bool readLine(HANDLE h, DCB *dcb)
{
    ZeroMemory(dcb, sizeof *dcb);
    dcb->DCBlength = sizeof(DCB);
    return GetCommState(h, dcb) != 0;
}

bool writeLine(HANDLE h, const DCB &dcb)
{
    DCB copy = dcb; // SetCommState takes a non-const pointer
    return SetCommState(h, &copy) != 0;
}

void setSensorLine(DCB *d, DWORD baud)
{
    d->DCBlength = sizeof(DCB);
    d->BaudRate = baud;
    d->fBinary = 1;
    d->fParity = 0;
    d->fOutxCtsFlow = 0;
    d->fOutxDsrFlow = 0;
    d->fDtrControl = DTR_CONTROL_ENABLE;
    d->fDsrSensitivity = 0;
    d->fTXContinueOnXoff = 1;
    d->fOutX = 0;
    d->fInX = 0;
    d->fErrorChar = 0;
    d->fNull = 0;
    d->fRtsControl = RTS_CONTROL_ENABLE;
    d->fAbortOnError = 0;
    d->ByteSize = 8;
    d->Parity = NOPARITY;
    d->StopBits = TWOSTOPBITS; // the sensor's frame has two stop bits
}

bool raiseModemLines(HANDLE h)
{
    return EscapeCommFunction(h, SETDTR) && EscapeCommFunction(h, SETRTS);
}

long bytesQueued(HANDLE h)
{
    DWORD errors = 0;
    COMSTAT status = {};
    // Line errors (framing, overrun) are cleared and otherwise ignored: a garbled
    // reply fails its own pattern match.
    if (!ClearCommError(h, &errors, &status))
        return -1;
    return long(status.cbInQue);
}

long read(HANDLE h, char *buffer, long count)
{
    DWORD got = 0;
    if (count <= 0 || !ReadFile(h, buffer, DWORD(count), &got, nullptr))
        return -1;
    return long(got);
}

long write(HANDLE h, const char *data, long count)
{
    DWORD put = 0;
    if (count <= 0 || !WriteFile(h, data, DWORD(count), &put, nullptr))
        return -1;
    return long(put);
}

void close(HANDLE h)
{
    CloseHandle(h);
}

bool readDeviceMap(std::vector<DeviceMapEntry> *entries)
{
    entries->clear();
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return false;
    // Buffers as long as the longest name and value the key holds, in characters and
    // bytes; one more character each for the terminating zero.
    DWORD longestName = 0;
    DWORD longestData = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &longestName,
                         &longestData, nullptr, nullptr) != ERROR_SUCCESS) {
        RegCloseKey(key);
        return false;
    }
    std::vector<wchar_t> name(longestName + 1);
    std::vector<wchar_t> data(longestData / sizeof(wchar_t) + 2);
    bool ok = true;
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = DWORD(name.size());
        DWORD dataBytes = DWORD((data.size() - 1) * sizeof(wchar_t));
        DWORD type = 0;
        const LONG r = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type,
                                     reinterpret_cast<BYTE *>(data.data()), &dataBytes);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        if (r != ERROR_SUCCESS || type != REG_SZ) {
            ok = false;
            break;
        }
        // Registry strings need not end in a zero; the length is what counts.
        size_t chars = dataBytes / sizeof(wchar_t);
        while (chars > 0 && data[chars - 1] == L'\0')
            --chars;
        entries->push_back({std::wstring(name.data(), nameLength), std::wstring(data.data(), chars)});
    }
    RegCloseKey(key);
    return ok;
}

} // namespace win32serial
#endif
