#include "serial/Tringbuffer.h"

#include <QTest>

namespace {

// A buffer whose storage has wrapped: the tail sits near the end, the newest bytes
// at the start of the storage.
void fillWrapped(TRingBuffer &b, const QByteArray &data)
{
    const QByteArray filler(b.size - 2, 'x');
    b.Put(filler.constData(), filler.size());
    b.Skip(filler.size());
    b.Put(data.constData(), data.size());
}

QByteArray contents(const TRingBuffer &b)
{
    QByteArray out(b.Count(), '\0');
    b.Peek(out.data(), 0, out.size());
    return out;
}

} // namespace

class TestRingBuffer : public QObject
{
    Q_OBJECT

private slots:
    void putBeyondTheFreeSpace()
    {
        TRingBuffer keep(8, false);
        QCOMPARE(keep.Put("0123456789", 10), 8);
        QCOMPARE(contents(keep), QByteArray("01234567"));

        TRingBuffer overwrite(8, true);
        QCOMPARE(overwrite.Put("0123456789", 10), 10);
        QCOMPARE(overwrite.Count(), 8);
        QCOMPARE(contents(overwrite), QByteArray("23456789"));
    }

    void overflowKeepsTheNewestInArrivalOrder()
    {
        TRingBuffer b(8, true);
        b.Put("abcde", 5);
        b.Put("fghij", 5); // two more than fit
        QCOMPARE(contents(b), QByteArray("cdefghij"));
        b.Put("0123456789ABCDEFGHIJ", 20); // more than the whole storage in one write
        QCOMPARE(contents(b), QByteArray("CDEFGHIJ"));
        QCOMPARE(b.Find('J', 0), 7);
    }

    void countAndSearchesAcrossTheWrap()
    {
        TRingBuffer b(16, true);
        fillWrapped(b, "abcdOK\rxyz");
        QVERIFY(b.head < b.tail);
        QCOMPARE(b.Count(), 10);
        QCOMPARE(b.Find('O', 0), 4);
        QCOMPARE(b.Find('z', 3), 9);
        bool complete = false;
        QCOMPARE(b.Match("OK\r", 3, '\0', &complete), 4);
        QVERIFY(complete);
        QCOMPARE(b.ReadString(4), QByteArray("abcd"));
        QCOMPARE(contents(b), QByteArray("OK\rxyz"));
    }

    void find_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<char>("value");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("expected");
        QTest::newRow("first") << QByteArray("abcabc") << 'b' << 0 << 1;
        QTest::newRow("from start offset") << QByteArray("abcabc") << 'b' << 2 << 4;
        QTest::newRow("absent") << QByteArray("abcabc") << 'z' << 0 << -1;
        QTest::newRow("start at Count") << QByteArray("abc") << 'a' << 3 << -1;
        QTest::newRow("negative start") << QByteArray("abc") << 'a' << -1 << -1;
        QTest::newRow("empty buffer") << QByteArray() << 'a' << 0 << -1;
    }
    void find()
    {
        QFETCH(QByteArray, data);
        QFETCH(char, value);
        QFETCH(int, start);
        QFETCH(int, expected);
        TRingBuffer b(32, true);
        b.Put(data.constData(), data.size());
        QCOMPARE(b.Find(quint8(value), start), expected);
    }

    void match_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("pattern");
        QTest::addColumn<char>("wildcard");
        QTest::addColumn<int>("offset");
        QTest::addColumn<bool>("complete");
        QTest::newRow("ack still arriving") << QByteArray("xyOK") << QByteArray("OK\r") << '\0' << 2 << false;
        QTest::newRow("ack complete") << QByteArray("xyOK\r") << QByteArray("OK\r") << '\0' << 2 << true;
        QTest::newRow("first byte absent") << QByteArray("hello") << QByteArray("OK\r") << '\0' << -1 << false;
        QTest::newRow("false start then match") << QByteArray("OxOK\r") << QByteArray("OK\r") << '\0' << 2 << true;
        QTest::newRow("wildcard start, empty") << QByteArray() << QByteArray("?????,") << '?' << 0 << false;
        QTest::newRow("identification")
            << QByteArray("\r\n..EchoGauge 18F2620 Version 01.13\r\n")
            << QByteArray("EchoGauge 18F2620 Version ??.??") << '?' << 4 << true;
        QTest::newRow("identification cut after first digits")
            << QByteArray("EchoGauge 18F2620 Version 01") << QByteArray("EchoGauge 18F2620 Version ??.??") << '?'
            << 0 << false;
        QTest::newRow("wildcard matches only in pattern")
            << QByteArray("a?c") << QByteArray("abc") << '?' << -1 << false;
        QTest::newRow("measurement") << QByteArray("junk01234,1,8,8,3,")
                                     << QByteArray("?????,?,?,?,?,") << '?' << 4 << true;
    }
    void match()
    {
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, pattern);
        QFETCH(char, wildcard);
        QFETCH(int, offset);
        QFETCH(bool, complete);
        TRingBuffer b(64, true);
        b.Put(data.constData(), data.size());
        bool isComplete = !complete;
        QCOMPARE(b.Match(pattern.constData(), pattern.size(), wildcard, &isComplete), offset);
        QCOMPARE(isComplete, complete);
    }

    void extraction()
    {
        TRingBuffer b(32, true);
        b.Put("abc\0def", 7);
        QCOMPARE(b.Skip(-1), 4); // up to and including the zero byte
        QCOMPARE(contents(b), QByteArray("def"));
        QCOMPARE(b.ReadString(-1), QByteArray()); // no zero byte held: nothing removed
        QCOMPARE(b.Count(), 3);
        char two[2];
        QCOMPARE(b.Read(two, 2), 2);
        QCOMPARE(QByteArray(two, 2), QByteArray("de"));
        QCOMPARE(b.Skip(10), 1); // more than held empties the buffer
        QCOMPARE(b.Count(), 0);
        QCOMPARE(b.Skip(0), 0);
    }

    void peekLimits()
    {
        TRingBuffer b(32, true);
        b.Put("abcdef", 6);
        char out[8] = {};
        QCOMPARE(b.Peek(out, 4, 10), 2);
        QCOMPARE(QByteArray(out, 2), QByteArray("ef"));
        QCOMPARE(b.Peek(out, 7, 1), 0);
        QCOMPARE(b.Peek(out, -1, 1), 0);
        QCOMPARE(b.Peek(out, 0, 0), 0);
        QCOMPARE(b.Count(), 6); // peeking removes nothing
    }

    void readStringStopsAtAZeroByte()
    {
        TRingBuffer b(32, true);
        b.Put("ab\0cd", 5);
        QCOMPARE(b.ReadString(5), QByteArray("ab"));
        QCOMPARE(b.Count(), 0); // all five are removed
    }

    void failedAllocationHoldsNothing()
    {
        TRingBuffer b(0, true);
        QCOMPARE(b.size, 0);
        QCOMPARE(b.Put("abc", 3), 0);
        QCOMPARE(b.Count(), 0);
        QCOMPARE(b.Find('a', 0), -1);
    }
};

QTEST_GUILESS_MAIN(TestRingBuffer)
#include "tst_ringbuffer.moc"
