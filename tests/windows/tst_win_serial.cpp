// The port record on the Windows comm API, against a pseudo-terminal behind a Wine
// COM port: what the far end sees of the line at each speed, a read that must not
// wait, the queued count, writes, and a device that goes away. The port number
// comes from EG_TEST_PORT, and eg-ptypeer holds the far end (scripts/test-windows.sh
// sets both up); without them the test skips itself. Wine lets a second program
// open a port that is held, so the open's failures are also made by stand-in calls.
#include "serial/Enumcomports.h"
#include "serial/Portaccess.h"
#include "serial/Win32Serial.h"

#include <QElapsedTimer>
#include <QTest>

#include <atomic>
#include <cerrno>
#include <memory>
#include <thread>

namespace {

// Reads what arrives until the far end's answer is complete: a line, or count bytes.
QByteArray receive(COMMPORT *port, int count, bool toLineEnd, int timeoutMs = 3000)
{
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        if (ClearCommError(port) && port->comStat.cbInQue > 0) {
            QByteArray chunk(port->comStat.cbInQue, '\0');
            chunk.truncate(ReadPortData(port, chunk.data(), qint32(chunk.size())));
            got += chunk;
        }
        if ((toLineEnd && got.endsWith('\n')) || (!toLineEnd && got.size() >= count))
            break;
        QTest::qSleep(10);
    }
    return got;
}

bool sendText(COMMPORT *port, const QByteArray &text)
{
    for (char c : text)
        if (!WritePortByte(port, c))
            return false;
    return true;
}

// One request to the far end and its one-line answer, without the line end.
QByteArray ask(COMMPORT *port, const QByteArray &request)
{
    if (!sendText(port, request + '\n'))
        return "(not written)";
    return receive(port, 0, true).trimmed();
}

HANDLE handleOf(const COMMPORT &port)
{
    return reinterpret_cast<HANDLE>(port.handle);
}

// Stand-ins for the calls of an open: each fails with its error when one is set.
struct FakeOpen
{
    DWORD createError = 0;
    DWORD setupError = 0;
    DWORD timeoutsError = 0;
    bool timeoutsSet = false;
    HANDLE closed = nullptr;
};
FakeOpen fake;
const HANDLE fakeHandle = reinterpret_cast<HANDLE>(0x4711);

BOOL succeedUnless(DWORD error)
{
    SetLastError(error);
    return error == 0;
}
HANDLE fakeCreate(const wchar_t *)
{
    return succeedUnless(fake.createError) ? fakeHandle : INVALID_HANDLE_VALUE;
}
BOOL WINAPI fakeSetupComm(HANDLE, DWORD, DWORD)
{
    return succeedUnless(fake.setupError);
}
BOOL WINAPI fakeSetTimeouts(HANDLE, LPCOMMTIMEOUTS t)
{
    fake.timeoutsSet = succeedUnless(fake.timeoutsError) && t->ReadIntervalTimeout == MAXDWORD;
    return fake.timeoutsError == 0;
}
BOOL WINAPI fakeClose(HANDLE h)
{
    fake.closed = h;
    return TRUE;
}

} // namespace

class TestWinSerial : public QObject
{
    Q_OBJECT

    int port = 0;

private slots:
    void initTestCase()
    {
        port = qEnvironmentVariableIntValue("EG_TEST_PORT");
        if (port < 1 || port > 255)
            QSKIP("EG_TEST_PORT names no COM port held by eg-ptypeer (see scripts/test-windows.sh)");
    }

    // The far end sees the sensor's frame at every speed the search uses, with no
    // handshake of any kind; the record keeps what the driver took.
    void lineAtEachSpeed_data()
    {
        QTest::addColumn<int>("baud");
        QTest::newRow("9600") << 9600;
        QTest::newRow("19200") << 19200;
        QTest::newRow("115200") << 115200;
    }
    void lineAtEachSpeed()
    {
        QFETCH(int, baud);
        COMMPORT p;
        QVERIFY(OpenPort(&p, quint8(port), baud));
        QCOMPARE(p.portNumber, quint8(port));
        QCOMPARE(ask(&p, "?"), QByteArray::number(baud) + " 8N2 crtscts=0 ixon=0 ixoff=0");

        DCB held;
        QVERIFY(win32serial::readLine(handleOf(p), &held));
        QCOMPARE(held.BaudRate, DWORD(baud));
        QCOMPARE(int(held.ByteSize), 8);
        QCOMPARE(int(held.Parity), NOPARITY);
        QCOMPARE(int(held.StopBits), TWOSTOPBITS);
        QCOMPARE(held.fOutxCtsFlow, DWORD(0));
        QCOMPARE(held.fOutX, DWORD(0));
        QCOMPARE(held.fInX, DWORD(0));
        // What the record asked for: DTR and RTS up, no flow control by them.
        QCOMPARE(p.dcb.fDtrControl, DWORD(DTR_CONTROL_ENABLE));
        QCOMPARE(p.dcb.fRtsControl, DWORD(RTS_CONTROL_ENABLE));
        QCOMPARE(p.dcb.fOutxDsrFlow, DWORD(0));
        QCOMPARE(p.dcb.fBinary, DWORD(1));
    }

    // With no time-outs set a read waits until its whole buffer is filled, and the
    // window would freeze on the first read of an idle line.
    void readReturnsAtOnceWhenNothingIsQueued()
    {
        COMMPORT p;
        QVERIFY(OpenPort(&p, quint8(port), 9600));
        receive(&p, 0, false, 200); // whatever is left from before
        COMMTIMEOUTS timeouts;
        QVERIFY(GetCommTimeouts(handleOf(p), &timeouts));
        QCOMPARE(timeouts.ReadIntervalTimeout, MAXDWORD);
        QCOMPARE(timeouts.ReadTotalTimeoutMultiplier, DWORD(0));
        QCOMPARE(timeouts.ReadTotalTimeoutConstant, DWORD(0));

        struct Read
        {
            char buffer[64];
            std::atomic<long> result{-2};
        };
        auto read = std::make_shared<Read>();
        const HANDLE h = handleOf(p);
        std::thread reader([read, h] { read->result = win32serial::read(h, read->buffer, 64); });
        QElapsedTimer t;
        t.start();
        while (read->result == -2 && t.elapsed() < 3000)
            QTest::qSleep(10);
        if (read->result == -2) {
            reader.detach(); // blocked for good; the process ends it
            QFAIL("a read of an idle port did not return within 3 s");
        }
        reader.join();
        QCOMPARE(long(read->result), 0L);
    }

    // The queued count is what the far end sent, and reading it empties the queue.
    void queuedCountAndRead()
    {
        COMMPORT p;
        QVERIFY(OpenPort(&p, quint8(port), 9600));
        receive(&p, 0, false, 200);
        QVERIFY(sendText(&p, "S37\n"));
        QElapsedTimer t;
        t.start();
        qint32 queued = 0;
        while (t.elapsed() < 3000) {
            QVERIFY(ClearCommError(&p));
            queued = p.comStat.cbInQue;
            if (queued >= 37)
                break;
            QTest::qSleep(10);
        }
        QCOMPARE(queued, 37);
        char bytes[64];
        QCOMPARE(ReadPortData(&p, bytes, queued), 37);
        QCOMPARE(QByteArray(bytes, 37), QByteArray("ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJK"));
        QVERIFY(ClearCommError(&p));
        QCOMPARE(p.comStat.cbInQue, 0);
    }

    void writtenBytesReachTheFarEnd()
    {
        COMMPORT p;
        QVERIFY(OpenPort(&p, quint8(port), 19200));
        receive(&p, 0, false, 200);
        QCOMPARE(ask(&p, "=...PDAC"), QByteArray("=...PDAC"));
    }

    void portsThatDoNotExistStayClosed()
    {
        COMMPORT p;
        QVERIFY(!OpenPort(&p, 231, 9600));
        QVERIFY(!p.isOpen());
        QCOMPARE(p.openError, ENOENT); // kept for the search: gone, not held
        QVERIFY(!ClearCommError(&p));
        QCOMPARE(p.comStat.cbInQue, 0);
    }

    // Why an open failed, as the search classes it: held by another program, gone,
    // or a port that cannot be used safely.
    void openFailures_data()
    {
        QTest::addColumn<DWORD>("createError");
        QTest::addColumn<DWORD>("setupError");
        QTest::addColumn<DWORD>("timeoutsError");
        QTest::addColumn<bool>("opened");
        QTest::addColumn<bool>("closed");
        QTest::addColumn<PortRefusal>("refusal");
        QTest::newRow("held by another program")
            << DWORD(ERROR_ACCESS_DENIED) << DWORD(0) << DWORD(0) << false << false << PortRefusal::InUse;
        QTest::newRow("sharing violation")
            << DWORD(ERROR_SHARING_VIOLATION) << DWORD(0) << DWORD(0) << false << false << PortRefusal::InUse;
        QTest::newRow("gone") << DWORD(ERROR_FILE_NOT_FOUND) << DWORD(0) << DWORD(0) << false << false
                              << PortRefusal::None;
        QTest::newRow("queue sizes refused: kept, with its time-outs")
            << DWORD(0) << DWORD(ERROR_INVALID_PARAMETER) << DWORD(0) << true << false << PortRefusal::None;
        QTest::newRow("time-outs refused: closed again")
            << DWORD(0) << DWORD(0) << DWORD(ERROR_INVALID_PARAMETER) << false << true << PortRefusal::None;
    }
    void openFailures()
    {
        QFETCH(DWORD, createError);
        QFETCH(DWORD, setupError);
        QFETCH(DWORD, timeoutsError);
        QFETCH(bool, opened);
        QFETCH(bool, closed);
        QFETCH(PortRefusal, refusal);
        fake = FakeOpen{createError, setupError, timeoutsError};
        const win32serial::OpenCalls calls = {fakeCreate, fakeSetupComm, fakeSetTimeouts, fakeClose};
        DWORD error = 12345;
        const HANDLE h = win32serial::openPort(L"\\\\.\\COM9", &error, calls);
        QCOMPARE(h == fakeHandle, opened);
        QCOMPARE(fake.closed == fakeHandle, closed);
        QCOMPARE(error, opened ? DWORD(0) : createError ? createError : timeoutsError);
        QCOMPARE(fake.timeoutsSet, opened);
        QCOMPARE(RefusalForError(ErrorNumberForWindowsError(error)), refusal);
    }

    // Last: the far end hangs up, as a USB adapter pulled out. Every call on the
    // handle then fails, which the exchanges take for a missing reply.
    void deviceGone()
    {
        COMMPORT p;
        QVERIFY(OpenPort(&p, quint8(port), 9600));
        receive(&p, 0, false, 200);
        QVERIFY(sendText(&p, "H\n"));
        QTRY_VERIFY_WITH_TIMEOUT(!ClearCommError(&p), 3000);
        QCOMPARE(p.comStat.cbInQue, 0);
        char byte;
        QCOMPARE(ReadPortData(&p, &byte, 1), 0);
        QVERIFY(p.isOpen()); // the record lets the search close it
    }
};

QTEST_GUILESS_MAIN(TestWinSerial)
#include "tst_win_serial.moc"
