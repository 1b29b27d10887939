// The network port's URL and the Telnet framing a device server speaks, fed as
// servers send it: split anywhere, with options to refuse and notices to ignore.
#include "app/Mainform.h"
#include "app/Networkports.h"
#include "app/Settings.h"
#include "serial/NetworkPort.h"
#include "serial/Rfc2217.h"

#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace telnet;

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

} // namespace

class TestNetworkPort : public QObject
{
    Q_OBJECT

private slots:
    void url_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("canonical"); // empty: refused
        QTest::addColumn<QString>("error");     // part of the reason given
        QTest::newRow("rfc2217 IPv4") << "rfc2217://127.0.0.1:2000"
                                      << "rfc2217://127.0.0.1:2000"
                                      << "";
        QTest::newRow("tcp name, upper case") << " TCP://Site-7.Example.ORG:23 "
                                              << "tcp://site-7.example.org:23"
                                              << "";
        QTest::newRow("IPv6") << "rfc2217://[::1]:4001"
                              << "rfc2217://[::1]:4001"
                              << "";
        QTest::newRow("IPv6 written long") << "tcp://[0:0:0:0:0:0:0:1]:1"
                                           << "tcp://[::1]:1"
                                           << "";
        QTest::newRow("highest port") << "tcp://h:65535"
                                      << "tcp://h:65535"
                                      << "";
        QTest::newRow("port 0") << "tcp://h:0"
                                << ""
                                << "1 to 65535";
        QTest::newRow("port too large") << "tcp://h:65536"
                                        << ""
                                        << "1 to 65535";
        QTest::newRow("no port") << "rfc2217://host"
                                 << ""
                                 << "missing";
        QTest::newRow("empty port") << "rfc2217://host:"
                                    << ""
                                    << "missing";
        QTest::newRow("other scheme") << "telnet://host:23"
                                      << ""
                                      << "rfc2217://HOST:PORT";
        QTest::newRow("COM port") << "COM3"
                                  << ""
                                  << "rfc2217://HOST:PORT";
        QTest::newRow("user") << "tcp://me@host:23"
                              << ""
                              << "only HOST:PORT";
        QTest::newRow("path") << "tcp://host:23/x"
                              << ""
                              << "only HOST:PORT";
        QTest::newRow("IPv6 without brackets") << "tcp://::1:23"
                                               << ""
                                               << "only HOST:PORT";
        QTest::newRow("not IPv6 in brackets") << "tcp://[1.2.3.4]:23"
                                              << ""
                                              << "IPv6";
        QTest::newRow("blank in host") << "tcp://a b:23"
                                       << ""
                                       << "no host name";
        QTest::newRow("empty host") << "tcp://:23"
                                    << ""
                                    << "";
    }
    void url()
    {
        QFETCH(QString, text);
        QFETCH(QString, canonical);
        QFETCH(QString, error);
        QString why;
        const auto parsed = ParseNetworkPortUrl(text, &why);
        QCOMPARE(parsed ? parsed->text() : QString(), canonical);
        if (canonical.isEmpty())
            QVERIFY2(!why.isEmpty() && why.contains(error), qPrintable(why));
    }

    // Each row is what one server sends, cut into pieces at the given sizes (0: the
    // whole at once), checked for the data, the answers and what was learnt.
    void feed_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("answers");
        QTest::addColumn<int>("comPort"); // Rfc2217Codec::ComPort
        QTest::addColumn<quint32>("baud");
        QTest::addColumn<int>("piece");
        const int accepted = int(Rfc2217Codec::ComPort::Accepted);
        const int asked = int(Rfc2217Codec::ComPort::Asked);
        const int refused = int(Rfc2217Codec::ComPort::Refused);
        const QByteArray agree = bytes(
            {IAC, DO, optBinary, IAC, WILL, optBinary, IAC, DO, optComPort, IAC, WILL, optSuppressGoAhead});
        QTest::newRow("data alone") << QByteArray("OK\r") << QByteArray("OK\r") << QByteArray() << asked << 0u
                                    << 0;
        QTest::newRow("IAC IAC is one 255")
            << bytes({'a', IAC, IAC, 'b'}) << bytes({'a', 255, 'b'}) << QByteArray() << asked << 0u << 1;
        QTest::newRow("agreement, nothing answered")
            << agree + "x" << QByteArray("x") << QByteArray() << accepted << 0u << 1;
        QTest::newRow("echo refused")
            << bytes({IAC, WILL, optEcho}) << QByteArray() << bytes({IAC, DONT, optEcho}) << asked << 0u << 0;
        QTest::newRow("unknown DO refused")
            << bytes({IAC, DO, 24}) << QByteArray() << bytes({IAC, WONT, 24}) << asked << 0u << 2;
        QTest::newRow("com port refused")
            << bytes({IAC, DONT, optComPort}) << QByteArray() << QByteArray() << refused << 0u << 0;
        QTest::newRow("speed confirmed, split everywhere")
            << agree + bytes({IAC, SB, optComPort, 101, 0, 0, 0x4B, 0x00, IAC, SE}) + "id" << QByteArray("id")
            << QByteArray() << accepted << 19200u << 1;
        QTest::newRow("speed with a 255 byte")
            << bytes({IAC, SB, optComPort, 101, 0, 0, IAC, IAC, 0, IAC, SE}) << QByteArray() << QByteArray()
            << asked << 0xFF00u << 3;
        QTest::newRow("notices ignored") << bytes({IAC, SB, optComPort, 106, 0x60, IAC, SE, 'A', IAC, SB,
                                                   optComPort, 107, 0x30, IAC, SE, 'B'})
                                         << QByteArray("AB") << QByteArray() << asked << 0u << 0;
        QTest::newRow("NOP and go-ahead dropped") << bytes({'1', IAC, NOP, '2', IAC, 249, '3'})
                                                  << QByteArray("123") << QByteArray() << asked << 0u << 1;
        QTest::newRow("CR NUL without binary") << bytes({'O', 'K', '\r', 0, 'x', '\r', '\n'})
                                               << QByteArray("OK\rx\r\n") << QByteArray() << asked << 0u << 1;
        QTest::newRow("CR NUL kept in binary")
            << bytes({IAC, WILL, optBinary, '\r', 0}) << bytes({'\r', 0}) << QByteArray() << asked << 0u << 0;
        QTest::newRow("short speed reply ignored") << bytes({IAC, SB, optComPort, 101, 0, 0, IAC, SE})
                                                   << QByteArray() << QByteArray() << asked << 0u << 0;
    }
    void feed()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, answers);
        QFETCH(int, comPort);
        QFETCH(quint32, baud);
        QFETCH(int, piece);
        Rfc2217Codec codec;
        codec.start();
        QByteArray gotData, gotAnswers;
        const qsizetype step = piece > 0 ? piece : input.size();
        for (qsizetype at = 0; at < input.size(); at += step)
            gotAnswers += codec.feed(input.constData() + at, qMin(step, input.size() - at), &gotData);
        QCOMPARE(gotData, data);
        QCOMPARE(gotAnswers, answers);
        QCOMPARE(int(codec.comPort()), comPort);
        QCOMPARE(codec.confirmedBaud(), baud);
    }

    // A subnegotiation that never ends swallows what follows, but holds no more
    // than its bound; the data after its end comes through.
    void endlessSubnegotiation()
    {
        Rfc2217Codec codec;
        QByteArray data;
        codec.feed(bytes({IAC, SB, optComPort, 101}).constData(), 4, &data);
        const QByteArray flood(100 * 1024, char(0x25));
        codec.feed(flood.constData(), flood.size(), &data);
        QVERIFY(data.isEmpty());
        const QByteArray end = bytes({IAC, SE, 'o', 'k'});
        codec.feed(end.constData(), end.size(), &data);
        QCOMPARE(data, QByteArray("ok"));
        QCOMPARE(codec.baudConfirmations(), 0u); // the overlong one is no confirmation
    }

    // What the settings hold is checked as it is read: a URL edited by hand into
    // something else, and a repeat, are left out; the rest keep their order.
    void storedPorts()
    {
        QTemporaryDir dir;
        QSettings store(dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
        StoreNetworkPorts(store, {{"RFC2217://Site.example:2000", " far  site "},
                                  {"http://x:1", "bad"},
                                  {"rfc2217://site.example:2000", "repeat"},
                                  {"tcp://[::1]:5", ""}});
        const QList<NetworkPortEntry> read = StoredNetworkPorts(store);
        QCOMPARE(read.size(), 2);
        QCOMPARE(std::tuple(read.at(0).url, read.at(0).name),
                 std::tuple(QStringLiteral("rfc2217://site.example:2000"), QStringLiteral("far site")));
        QCOMPARE(read.at(1).url, QStringLiteral("tcp://[::1]:5"));
    }

    // "--port NAME": a COM port, a URL, or the name of a listed network port.
    void portName_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("handle");
        QTest::addColumn<QString>("port"); // resolved; empty: refused
        QTest::newRow("handle alone") << QStringList{"7"} << "7"
                                      << "";
        QTest::newRow("COM port and handle") << QStringList{"--port", "com3", "12"} << "12"
                                             << "COM3";
        QTest::newRow("URL") << QStringList{"--port=TCP://H:9"} << ""
                             << "tcp://h:9";
        QTest::newRow("listed name") << QStringList{"--port", "Weir 4"} << ""
                                     << "rfc2217://10.0.0.4:4001";
        QTest::newRow("bad URL") << QStringList{"--port", "tcp://h"} << ""
                                 << "";
        QTest::newRow("unknown name") << QStringList{"--port", "COM0"} << ""
                                      << "";
    }
    void portName()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, handle);
        QFETCH(QString, port);
        const CommandLineChoice choice = ParseCommandLine(arguments);
        QCOMPARE(choice.handleText, handle);
        if (choice.port.isEmpty())
            return;
        QString error;
        const QString resolved =
            ResolvePortName(choice.port, {{"rfc2217://10.0.0.4:4001", "weir 4"}}, &error);
        QCOMPARE(resolved, port);
        QCOMPARE(error.isEmpty(), !port.isEmpty());
    }

    void dialogEdits()
    {
        TformNetworkPorts dialog(QList<NetworkPortEntry>{{"rfc2217://a:1", "A"}});
        QVERIFY(!dialog.addPort(QStringLiteral("rfc2217://A:1"), QStringLiteral("again")));
        QVERIFY(dialog.labelError->text().contains(QLatin1String("listed already")));
        QVERIFY(!dialog.addPort(QStringLiteral("rfc2217://b"), QString()));
        QVERIFY(dialog.labelError->text().contains(QLatin1String("missing")));
        QVERIFY(dialog.addPort(QStringLiteral("tcp://b:2"), QStringLiteral("B")));
        QVERIFY(dialog.labelError->text().isEmpty());
        QVERIFY(dialog.changePort(0, QStringLiteral("rfc2217://a:1"), QStringLiteral("A2")));
        QVERIFY(!dialog.changePort(0, QStringLiteral("tcp://b:2"), QString()));
        dialog.removePort(1);
        QCOMPARE(dialog.ports().size(), 1);
        QCOMPARE(dialog.ports().first().name, QStringLiteral("A2"));
    }

    void requests()
    {
        // 9600 8N2, no flow control; then DTR and RTS on, and the purge.
        QCOMPARE(
            Rfc2217Codec::lineRequests(ComPortLine()),
            bytes({IAC, SB, 44, 1,   0,  0,   0x25, 0x80, IAC, SE, IAC, SB, 44,  2,  8,  IAC, SE, IAC, SB,
                   44,  3,  1,  IAC, SE, IAC, SB,   44,   4,   2,  IAC, SE, IAC, SB, 44, 5,   1,  IAC, SE}));
        QCOMPARE(Rfc2217Codec::modemLinesRequest(),
                 bytes({IAC, SB, 44, 5, 8, IAC, SE, IAC, SB, 44, 5, 11, IAC, SE}));
        QCOMPARE(Rfc2217Codec::purgeRequest(), bytes({IAC, SB, 44, 12, 1, IAC, SE}));
        // A 255 in a value is doubled.
        ComPortLine odd;
        odd.baud = 0xFF;
        QVERIFY(
            Rfc2217Codec::lineRequests(odd).startsWith(bytes({IAC, SB, 44, 1, 0, 0, 0, IAC, IAC, IAC, SE})));
        // Data: IAC doubled; CR followed by NUL until binary is agreed.
        Rfc2217Codec codec;
        QCOMPARE(codec.encodeData("\r\xff", 2), bytes({'\r', 0, IAC, IAC}));
        codec.start();
        QByteArray data;
        const QByteArray agree = bytes({IAC, DO, optBinary});
        codec.feed(agree.constData(), agree.size(), &data);
        QCOMPARE(codec.encodeData("\r\xff", 2), bytes({'\r', IAC, IAC}));
    }
};

QTEST_MAIN(TestNetworkPort)
#include "tst_networkport.moc"
