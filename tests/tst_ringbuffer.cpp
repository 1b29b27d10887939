#include "serial/Tringbuffer.h"

#include <QTest>

#include <algorithm>
#include <climits>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define EG_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define EG_ASAN 1
#endif
#endif

// Windows has no address-space limit for one process (a job's memory limit is the
// nearest, and Wine does not keep it).
#if defined(EG_ASAN) || defined(_WIN32)
#define EG_NO_ADDRESS_CAP 1
#endif

// Caps the address space at 1 GB while it lives, so that a stray allocation of
// gigabytes fails at once. AddressSanitizer's shadow memory needs far more, so
// there the cap is left off and its allocator reports such an allocation instead.
class AddressSpaceCap
{
public:
    AddressSpaceCap()
    {
#ifndef EG_NO_ADDRESS_CAP
        if (getrlimit(RLIMIT_AS, &old) == 0) {
            rlimit capped = old;
            capped.rlim_cur = std::min<rlim_t>(old.rlim_cur, rlim_t(1) << 30);
            capped_ = setrlimit(RLIMIT_AS, &capped) == 0;
        }
#endif
    }
    ~AddressSpaceCap()
    {
#ifndef EG_NO_ADDRESS_CAP
        if (capped_)
            setrlimit(RLIMIT_AS, &old);
#endif
    }
    AddressSpaceCap(const AddressSpaceCap &) = delete;
    AddressSpaceCap &operator=(const AddressSpaceCap &) = delete;

private:
#ifndef EG_NO_ADDRESS_CAP
    rlimit old{};
    bool capped_ = false;
#endif
};

// The receive buffer: every reply is found in it by Match, so a wrong offset or a
// lost wrap turns into a missed or a false reply.
class TestRingBuffer : public QObject
{
    Q_OBJECT

    // Moves head and tail near the end of the storage so the next bytes wrap.
    static void wrapNearEnd(TRingBuffer &b, int keepFree)
    {
        QByteArray filler(b.size - keepFree, 'x');
        QCOMPARE(b.Put(filler.constData(), qint32(filler.size())), qint32(filler.size()));
        QCOMPARE(b.Skip(qint32(filler.size())), qint32(filler.size()));
    }

private slots:
    void putIntoAFullBuffer_data()
    {
        QTest::addColumn<bool>("overwrite");
        QTest::addColumn<int>("preload");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("taken");
        QTest::addColumn<QByteArray>("held");
        QTest::newRow("cut to fit") << false << 0 << QByteArray("0123456789") << 8 << QByteArray("01234567");
        QTest::newRow("overwrite keeps the newest")
            << true << 0 << QByteArray("0123456789") << 10 << QByteArray("23456789");
        QTest::newRow("cut, partly full")
            << false << 5 << QByteArray("abcdef") << 3 << QByteArray("pppppabc");
        QTest::newRow("overwrite, partly full")
            << true << 5 << QByteArray("abcdef") << 6 << QByteArray("ppabcdef");
        QTest::newRow("full without overwrite takes nothing")
            << false << 8 << QByteArray("z") << 0 << QByteArray("pppppppp");
        QTest::newRow("overwrite, much more than fits")
            << true << 3 << QByteArray(25, 'q') + "ABCDEFGH" << 33 << QByteArray("ABCDEFGH");
    }
    void putIntoAFullBuffer()
    {
        QFETCH(bool, overwrite);
        QFETCH(int, preload);
        QFETCH(QByteArray, data);
        QFETCH(int, taken);
        QFETCH(QByteArray, held);
        TRingBuffer b(8, overwrite);
        const QByteArray pre(preload, 'p');
        b.Put(pre.constData(), qint32(pre.size()));
        QCOMPARE(b.Put(data.constData(), qint32(data.size())), taken);
        QCOMPARE(b.Count(), qint32(held.size()));
        QCOMPARE(b.ReadString(b.Count()), held);
    }

    void putOfNothingTakesNothing()
    {
        TRingBuffer b(8, true);
        QCOMPARE(b.Put("abc", 0), 0);
        QCOMPARE(b.Put("abc", -4), 0);
        QCOMPARE(b.Count(), 0);
    }

    void countAndFreeSpaceAcrossTheWrap()
    {
        TRingBuffer b(8, false);
        wrapNearEnd(b, 2); // head and tail at 6
        QCOMPARE(b.Put("ABCDE", 5), 5);
        QVERIFY(b.head < b.tail); // the bytes wrapped
        QCOMPARE(b.Count(), 5);
        QCOMPARE(b.FreeSpace(), 3);
        char out[8] = {};
        QCOMPARE(b.Peek(out, 0, 8), 5);
        QCOMPARE(QByteArray(out, 5), QByteArray("ABCDE"));
    }

    void match_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("pattern");
        QTest::addColumn<char>("wildcard");
        QTest::addColumn<int>("offset");
        QTest::addColumn<bool>("complete");
        const char none = '\0';
        QTest::newRow("reply still arriving")
            << QByteArray("xyOK") << QByteArray("OK\r") << none << 2 << false;
        QTest::newRow("reply complete") << QByteArray("xyOK\r") << QByteArray("OK\r") << none << 2 << true;
        QTest::newRow("first byte never occurs")
            << QByteArray("abcdef") << QByteArray("OK\r") << none << -1 << false;
        QTest::newRow("false start, then the reply")
            << QByteArray("OxOK\rz") << QByteArray("OK\r") << none << 2 << true;
        QTest::newRow("a mismatch that is not the end")
            << QByteArray("OKx") << QByteArray("OK\r") << none << -1 << false;
        QTest::newRow("measurement with wildcards")
            << QByteArray("01234,5,6,7,8,\r") << QByteArray("?????,?,?,?,?,") << '?' << 0 << true;
        QTest::newRow("wildcard start on empty data")
            << QByteArray() << QByteArray("?????,") << '?' << 0 << false;
        QTest::newRow("wildcards in the data are plain bytes")
            << QByteArray("V??") << QByteArray("V12") << '?' << -1 << false;
        QTest::newRow("identification with version")
            << QByteArray("\r\nEchoGauge 18F2620 Version 01.07\r\n")
            << QByteArray("EchoGauge 18F2620 Version ??.??") << '?' << 2 << true;
    }
    void match()
    {
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, pattern);
        QFETCH(char, wildcard);
        QFETCH(int, offset);
        QFETCH(bool, complete);
        TRingBuffer b(64, true);
        b.Put(data.constData(), qint32(data.size()));
        bool isComplete = !complete;
        QCOMPARE(b.Match(pattern, wildcard, &isComplete), offset);
        QCOMPARE(isComplete, complete);
    }

    void matchAndFindSeeArrivalOrderAfterTheWrap()
    {
        TRingBuffer b(16, true);
        wrapNearEnd(b, 3); // the reply straddles the end of the storage
        QCOMPARE(b.Put("ab", 2), 2);
        QCOMPARE(b.Put("OK\rcd", 5), 5);
        QVERIFY(b.head < b.tail);
        bool complete = false;
        QCOMPARE(b.Match(QByteArray("OK\r"), '\0', &complete), 2);
        QVERIFY(complete);
        QCOMPARE(b.Find('\r', 0), 4);
        QCOMPARE(b.Find('d', 5), 6);
        QCOMPARE(b.Find('a', 1), -1);
        QCOMPARE(b.ReadString(7), QByteArray("abOK\rcd"));
    }

    void matchAfterOverflowSeesOnlyTheNewest()
    {
        TRingBuffer b(8, true);
        const QByteArray data = "OK\r012345678";
        b.Put(data.constData(), qint32(data.size()));
        bool complete = true;
        QCOMPARE(b.Match(QByteArray("OK\r"), '\0', &complete), -1);
        QCOMPARE(b.ReadString(-1), QByteArray());
        QCOMPARE(b.Count(), 8);
    }

    void find_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("offset");
        QTest::newRow("first") << int('a') << 0 << 0;
        QTest::newRow("after the start") << int('a') << 1 << 3;
        QTest::newRow("start at the byte") << int('c') << 2 << 2;
        QTest::newRow("start equal to Count") << int('a') << 5 << -1;
        QTest::newRow("negative start") << int('a') << -1 << -1;
        QTest::newRow("absent") << int('z') << 0 << -1;
    }
    void find()
    {
        QFETCH(int, value);
        QFETCH(int, start);
        QFETCH(int, offset);
        TRingBuffer b(16, true);
        b.Put("abcab", 5);
        QCOMPARE(b.Find(quint8(value), start), offset);
    }

    void peekLeavesTheBytes_data()
    {
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("count");
        QTest::addColumn<QByteArray>("copied");
        QTest::newRow("all") << 0 << 5 << QByteArray("hello");
        QTest::newRow("more than held") << 2 << 10 << QByteArray("llo");
        QTest::newRow("at the end") << 5 << 3 << QByteArray();
        QTest::newRow("past the end") << 6 << 3 << QByteArray();
        QTest::newRow("negative count") << 0 << -1 << QByteArray();
        QTest::newRow("negative offset") << -1 << 2 << QByteArray();
        // offset + count past the largest integer must still be cut to what is held.
        QTest::newRow("count near the largest integer") << 2 << INT_MAX - 1 << QByteArray("llo");
        QTest::newRow("largest count") << 1 << INT_MAX << QByteArray("ello");
        QTest::newRow("largest offset and count") << INT_MAX << INT_MAX << QByteArray();
    }
    void peekLeavesTheBytes()
    {
        QFETCH(int, offset);
        QFETCH(int, count);
        QFETCH(QByteArray, copied);
        TRingBuffer b(16, true);
        b.Put("hello", 5);
        char out[16] = {};
        QCOMPARE(b.Peek(out, offset, count), qint32(copied.size()));
        QCOMPARE(QByteArray(out, int(copied.size())), copied);
        QCOMPARE(b.Count(), 5);
    }

    void negativeCountTakesUpToTheZeroByte_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("left");
        QTest::newRow("zero byte held") << QByteArray("ab\0cd", 5) << QByteArray("ab") << 2;
        QTest::newRow("no zero byte: nothing removed") << QByteArray("abcd") << QByteArray() << 4;
        QTest::newRow("zero byte first") << QByteArray("\0cd", 3) << QByteArray() << 2;
    }
    void negativeCountTakesUpToTheZeroByte()
    {
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, text);
        QFETCH(int, left);
        TRingBuffer b(16, true);
        b.Put(data.constData(), qint32(data.size()));
        QCOMPARE(b.ReadString(-1), text);
        QCOMPARE(b.Count(), left);

        TRingBuffer s(16, true);
        s.Put(data.constData(), qint32(data.size()));
        QCOMPARE(s.Skip(-1), qint32(data.size()) - left);
        QCOMPARE(s.Count(), left);
    }

    void skipMoreThanHeldEmptiesTheBuffer()
    {
        TRingBuffer b(16, true);
        b.Put("abcde", 5);
        QCOMPARE(b.Skip(9), 5);
        QCOMPARE(b.Count(), 0);
        QCOMPARE(b.Skip(0), 0);
        b.Put("xy", 2);
        QCOMPARE(b.ReadString(2), QByteArray("xy"));
    }

    void readMovesAndReadStringStopsAtZero()
    {
        TRingBuffer b(16, true);
        b.Put("12\0"
              "45",
              5);
        char out[8] = {};
        QCOMPARE(b.Read(out, 1), 1);
        QCOMPARE(out[0], '1');
        QCOMPARE(b.ReadString(4), QByteArray("2")); // the zero byte ends the text, all 4 are gone
        QCOMPARE(b.Count(), 0);
    }

    // A count far beyond what is held takes what is held, without first making
    // room for the count: the address space is capped so that asking for two
    // gigabytes fails the test instead of passing slowly.
    void readStringOfAHugeCount_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("left");
        QTest::newRow("largest count") << INT_MAX << QByteArray("hello") << 0;
        QTest::newRow("one less") << INT_MAX - 1 << QByteArray("hello") << 0;
        QTest::newRow("exactly what is held") << 5 << QByteArray("hello") << 0;
        QTest::newRow("less than held") << 2 << QByteArray("he") << 3;
    }
    void readStringOfAHugeCount()
    {
        QFETCH(int, count);
        QFETCH(QByteArray, text);
        QFETCH(int, left);
        TRingBuffer b(16, true);
        QCOMPARE(b.Put("hello", 5), 5);
        QByteArray got;
        {
            const AddressSpaceCap cap;
            got = b.ReadString(count);
        }
        QCOMPARE(got, text);
        QCOMPARE(b.Count(), left);
    }

    void failedAllocationLeavesAnInertBuffer()
    {
#ifdef EG_ASAN
        QSKIP("AddressSanitizer reserves terabytes of shadow memory, so the address space cannot be capped");
#elif defined(_WIN32)
        QSKIP("a process's address space cannot be capped on Windows");
#else
        // Cap the address space so that the 2 GB storage cannot be had.
        rlimit old{};
        QCOMPARE(getrlimit(RLIMIT_AS, &old), 0);
        rlimit capped = old;
        capped.rlim_cur = rlim_t(1) << 30;
        QCOMPARE(setrlimit(RLIMIT_AS, &capped), 0);
        TRingBuffer b(INT_MAX - 1, true);
        setrlimit(RLIMIT_AS, &old);
        QCOMPARE(b.size, 0);
        QCOMPARE(b.Put("abc", 3), 0);
        QCOMPARE(b.Count(), 0);
        QCOMPARE(b.Find('a', 0), -1);
        bool complete = true;
        QCOMPARE(b.Match(QByteArray("OK"), '\0', &complete), -1);
#endif
    }
};

QTEST_APPLESS_MAIN(TestRingBuffer)
#include "tst_ringbuffer.moc"
