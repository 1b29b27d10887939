#include "TestPlatform.h"
#include "channel/Channelfile.h"
#include "channel/Flow.h"
#include "channel/Inifile.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#ifndef _WIN32
#include <unistd.h>
#endif

// The weir equations fill the sensor's flow table: a wrong digit here is a wrong
// flow reported in the field.
class TestFlow : public QObject
{
    Q_OBJECT

private slots:
    void flowForHead_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("angle");
        QTest::addColumn<int>("crest");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("notch");
        QTest::addColumn<int>("head");
        QTest::addColumn<double>("flow");
        QTest::addColumn<double>("tolerance");
        QTest::newRow("v-notch 90 at 500") << 4 << 90 << 1000 << 1000 << 500 << 500 << 0.2424666547 << 1e-10;
        QTest::newRow("v-notch 15 at 1000") << 4 << 15 << 1000 << 1000 << 500 << 1000 << 0.18666 << 1e-5;
        QTest::newRow("v-notch 150 at 1000") << 4 << 150 << 1000 << 1000 << 500 << 1000 << 5.41664 << 1e-5;
        QTest::newRow("v-notch 90 at 0") << 4 << 90 << 1000 << 1000 << 500 << 0 << 0.0000000318 << 1e-10;
        QTest::newRow("v-notch 90 at 5000") << 4 << 90 << 1000 << 1000 << 500 << 5000 << 76.3703 << 1e-4;
        QTest::newRow("rectangular at 500") << 2 << 90 << 1000 << 1000 << 500 << 500 << 0.6681169602 << 1e-10;
        QTest::newRow("rectangular at 0") << 2 << 90 << 1000 << 1000 << 500 << 0 << 0.0000560356 << 1e-10;
        QTest::newRow("constricted 500") << 3 << 90 << 1000 << 1000 << 500 << 500 << 0.3144804780 << 1e-10;
        QTest::newRow("constricted 350 linear") << 3 << 90 << 1000 << 1000 << 350 << 500 << 0.21833 << 1e-5;
        QTest::newRow("constricted 351 polynomial")
            << 3 << 90 << 1000 << 1000 << 351 << 500 << 0.21896 << 1e-5;
        QTest::newRow("depth gives none") << 1 << 90 << 1000 << 1000 << 500 << 500 << -1.0 << 0.0;
        QTest::newRow("distance gives none") << 0 << 90 << 1000 << 1000 << 500 << 500 << -1.0 << 0.0;
        QTest::newRow("no crest") << 2 << 90 << 0 << 1000 << 500 << 500 << -1.0 << 0.0;
        QTest::newRow("no width") << 3 << 90 << 1000 << -999 << 500 << 500 << -1.0 << 0.0;
        for (int type = 0; type <= 4; ++type)
            QTest::addRow("negative head, type %d", type)
                << type << 90 << 1000 << 1000 << 500 << -1 << -1.0 << 0.0;
    }

    void flowForHead()
    {
        QFETCH(int, type);
        QFETCH(int, angle);
        QFETCH(int, crest);
        QFETCH(int, width);
        QFETCH(int, notch);
        QFETCH(int, head);
        QFETCH(double, flow);
        QFETCH(double, tolerance);
        const ChannelDimensions dims{angle, crest, width, notch};
        const double got = FlowForHead(type, dims, head);
        if (tolerance == 0.0)
            QCOMPARE(got, flow);
        else
            QVERIFY2(std::abs(got - flow) <= tolerance, qPrintable(QString::number(got, 'g', 12)));
    }

    void flowAxisMaximum_data()
    {
        QTest::addColumn<float>("value");
        QTest::addColumn<int>("divisions");
        QTest::addColumn<int>("maximum");
        QTest::newRow("v-notch at 5 m") << float(VNotchWeirFlow(90, 5000)) << 5 << 77;
        QTest::newRow("whole number") << 3.0f << 5 << 3;
        QTest::newRow("zero") << 0.0f << 5 << 1;
        QTest::newRow("no flow") << -1.0f << 5 << 1;
        QTest::newRow("no divisions") << 2.5f << 0 << 1;
        QTest::newRow("beyond range") << 1e12f << 5 << 2147483647;
    }

    void flowAxisMaximum()
    {
        QFETCH(float, value);
        QFETCH(int, divisions);
        QFETCH(int, maximum);
        QCOMPARE(FlowAxisMaximum(value, divisions), maximum);
    }

    void millimetresFromText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("mm");
        QTest::newRow("rounds half up") << "1.2345" << 1235;
        QTest::newRow("half metre") << "0.5" << 500;
        QTest::newRow("just under 3 m") << "2.9995" << 3000;
        QTest::newRow("not a number") << "abc" << -999;
        QTest::newRow("empty") << "" << -999;
        QTest::newRow("infinite") << "inf" << -999;
        QTest::newRow("huge saturates") << "1e30" << 2147483647;
    }

    void millimetresFromText()
    {
        QFETCH(QString, text);
        QFETCH(int, mm);
        QCOMPARE(MillimetresFromText(text), mm);
    }

    void texts()
    {
        QCOMPARE(CalibrationText(4), QStringLiteral("0.01 (l/s)"));
        QCOMPARE(CalibrationText(1), QStringLiteral("10.0 (l/s)"));
        QCOMPARE(MetresText(-999), QStringLiteral("-0.999"));
        QCOMPARE(FlowHintText(500, float(VNotchWeirFlow(90, 500))),
                 QStringLiteral("Depth = 0.500m\nFlow = 0.242 m\u00B3/s"));
        QCOMPARE(FlowHintText(200, float(VNotchWeirFlow(90, 200))),
                 QStringLiteral("Depth = 0.200m\nFlow = 24.7 l/s"));
        // Litres give way to cubic metres at 0.1 m³/s, between 350 and 351 mm.
        QVERIFY(FlowHintText(350, float(VNotchWeirFlow(90, 350))).endsWith(QStringLiteral(" l/s")));
        QVERIFY(FlowHintText(351, float(VNotchWeirFlow(90, 351))).endsWith(QStringLiteral(" m\u00B3/s")));
    }

    void writtenFileText()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("site.cdf"));
        ChannelFileContent c;
        c.type = ctVNotchWeir;
        QCOMPARE(WriteChannelFile(path, c), ChannelFileResult::Ok);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(),
                 QByteArray("[Channels]\r\nChannel Type=4\r\nNotch Angle=90\r\nCrest Height=1000\r\n"
                            "Channel Width=1000\r\nNotch Width=500\r\n"));
    }

    void readDefaultsAndTypeRange_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("angle");
        QTest::addColumn<int>("crest");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("notch");
        QTest::newRow("empty file") << QByteArray() << 0 << 90 << 1 << 2 << 1;
        QTest::newRow("type 7") << QByteArray("[Channels]\r\nChannel Type=7\r\n") << 0 << 90 << 1 << 2 << 1;
        QTest::newRow("type -1") << QByteArray("[channels]\nchannel type=-1\n") << 0 << 90 << 1 << 2 << 1;
        QTest::newRow("angle kept") << QByteArray("[Channels]\r\nChannel Type=4\r\nNotch Angle=200\r\n") << 4
                                    << 200 << 1 << 2 << 1;
        QTest::newRow("not numeric") << QByteArray("[Channels]\r\nCrest Height=1.5\r\nChannel Width=x\r\n")
                                     << 0 << 90 << 1 << 2 << 1;
        QTest::newRow("other section")
            << QByteArray("[Other]\r\nCrest Height=7\r\n[Channels]\r\n Crest Height = 800 \r\n") << 0 << 90
            << 800 << 2 << 1;
        // Notepad and friends start a UTF-8 file with a byte-order mark.
        QTest::newRow("byte-order mark")
            << QByteArray("\xEF\xBB\xBF[Channels]\r\nChannel Type=3\r\nNotch Width=1200\r\n") << 3 << 90 << 1
            << 2 << 1200;
        QTest::newRow("byte-order mark, LF ends")
            << QByteArray("\xEF\xBB\xBF[Channels]\nCrest Height=650\n") << 0 << 90 << 650 << 2 << 1;
        QTest::newRow("exactly a megabyte")
            << (QByteArray("[Channels]\r\nCrest Height=700\r\n") + QByteArray(1024 * 1024 - 30, ' ')) << 0
            << 90 << 700 << 2 << 1;
    }

    void readDefaultsAndTypeRange()
    {
        QFETCH(QByteArray, text);
        QTemporaryDir dir;
        const QString path = writeTestFile(dir, QStringLiteral("a.cdf"), text);
        QVERIFY(!path.isEmpty());
        ChannelFileContent c;
        QCOMPARE(ReadChannelFile(path, c), ChannelFileResult::Ok);
        QTEST(c.type, "type");
        QTEST(c.dims.notchAngle, "angle");
        QTEST(c.dims.crestHeight, "crest");
        QTEST(c.dims.channelWidth, "width");
        QTEST(c.dims.notchWidth, "notch");
    }

    void saveKeepsOtherSectionsAndKeys()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("b.cdf"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(
            "; site notes\r\n[Site]\r\nName=Mill Race\r\n\r\n[Channels]\r\nChannel Type=1\r\nOperator=J\r\n");
        f.close();
        ChannelFileContent c;
        c.type = 3;
        c.dims = {45, 700, 2500, 1200};
        QCOMPARE(WriteChannelFile(path, c), ChannelFileResult::Ok);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(),
                 QByteArray("; site notes\r\n[Site]\r\nName=Mill Race\r\n\r\n[Channels]\r\nChannel Type=3\r\n"
                            "Operator=J\r\nNotch Angle=45\r\nCrest Height=700\r\nChannel Width=2500\r\n"
                            "Notch Width=1200\r\n"));
        f.close();
        ChannelFileContent back;
        QCOMPARE(ReadChannelFile(path, back), ChannelFileResult::Ok);
        QCOMPARE(back.type, 3);
        QCOMPARE(back.dims.notchAngle, 45);
        QCOMPARE(back.dims.crestHeight, 700);
        QCOMPARE(back.dims.channelWidth, 2500);
        QCOMPARE(back.dims.notchWidth, 1200);
    }

    void readOnlyFileIsNotReplaced()
    {
#ifndef _WIN32
        if (::geteuid() == 0)
            QSKIP("the superuser may write to any file");
#endif
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("c.cdf"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[Keep]\r\nA=1\r\n");
        f.close();
        QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadUser);
        if (QFileInfo(path).isWritable())
            QSKIP("running with rights that write through a read-only file");
        QCOMPARE(WriteChannelFile(path, ChannelFileContent()), ChannelFileResult::Unwritable);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("[Keep]\r\nA=1\r\n"));
    }

    void fileUnderAPlainFileIsUnwritable()
    {
        // A path that no user can create: its "directory" is an ordinary file.
        QTemporaryDir dir;
        const QString blocker = dir.filePath(QStringLiteral("notadir"));
        QFile f(blocker);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("x");
        f.close();
        QCOMPARE(WriteChannelFile(blocker + QStringLiteral("/d.cdf"), ChannelFileContent()),
                 ChannelFileResult::Unwritable);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("x"));
    }
};

QTEST_GUILESS_MAIN(TestFlow)
#include "tst_flow.moc"
