#pragma once

// The Windows communications API as the port record uses it: plain WinAPI and the
// standard library, so that it is the same few calls whatever sits above it.
#ifdef _WIN32
#include <windows.h>

#include <string>
#include <vector>

namespace win32serial {

// The driver queues asked for: room for the longest reply (the register dump)
// while nothing reads the port.
constexpr DWORD queueBytes = 2048;
// A one-byte write with no flow control is gone in a millisecond; a driver that
// holds it longer must not hang the window.
constexpr DWORD writeTimeoutMs = 100;

// The calls openPort makes, so that a test can have any of them fail as a driver
// or another program would make it fail (the failing call sets the last error).
struct OpenCalls
{
    HANDLE (*createFile)(const wchar_t *path); // for reading and writing, not shared
    BOOL(WINAPI *setupComm)(HANDLE, DWORD, DWORD);
    BOOL(WINAPI *setCommTimeouts)(HANDLE, LPCOMMTIMEOUTS);
    BOOL(WINAPI *closeHandle)(HANDLE);
};
const OpenCalls &systemOpenCalls();

// Opens a port for this program alone (share mode 0: the comm API grants a port to
// one handle), sizes its queues and sets time-outs under which a read returns at
// once with what is queued. INVALID_HANDLE_VALUE when it cannot be opened, with the
// system's error code in *error (0 when it opened). A port that refuses the queue
// sizes keeps the driver's own; one that refuses the time-outs is closed again.
HANDLE openPort(const std::wstring &path, DWORD *error, const OpenCalls &calls = systemOpenCalls());

bool readLine(HANDLE h, DCB *dcb);        // GetCommState
bool writeLine(HANDLE h, const DCB &dcb); // SetCommState

// The sensor's line in dcb: baud, 8 data bits, no parity, two stop bits, no flow
// control of any kind, DTR and RTS raised. The queue limits and special characters
// keep what the driver reported.
void setSensorLine(DCB *dcb, DWORD baud);

// DTR and RTS up now, as the line settings hold them up from then on.
bool raiseModemLines(HANDLE h);

// Bytes waiting in the driver's input queue; -1 when the device has gone (a USB
// adapter pulled out fails every call on its handle).
long bytesQueued(HANDLE h);

// One read or write; the bytes moved, or -1 when the call failed.
long read(HANDLE h, char *buffer, long count);
long write(HANDLE h, const char *data, long count);

void close(HANDLE h);

// One value of HKLM\HARDWARE\DEVICEMAP\SERIALCOMM: its name (\Device\Serial0) and
// its data (COM1).
struct DeviceMapEntry
{
    std::wstring name;
    std::wstring data;
};

// The serial device map, read with the wide-character calls. False when the key
// cannot be opened or a value cannot be read; entries then holds what was read
// before the failure.
bool readDeviceMap(std::vector<DeviceMapEntry> *entries);

} // namespace win32serial
#endif
