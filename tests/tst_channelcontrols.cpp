#include "ExchangeRig.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

#ifndef _WIN32
#include <sys/stat.h>
#endif

// The channel page's handlers on a window that is never shown.
class TestChannelControls : public QObject
{
    Q_OBJECT

    // The window on the virtual clock with a settings scope of this program's own.
    struct Rig : ExchangeRig
    {
        Rig() : ExchangeRig(QStringLiteral("channelcontrols")) {}
    };

    static void typeEdit(QLineEdit *edit, const QString &text)
    {
        edit->setText(text); // the change signal runs the handler as a keystroke would
    }

private slots:
    void editsGiveMillimetres_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint32>("mm");
        QTest::newRow("rounds half up") << "1.2345" << 1235;
        QTest::newRow("just under 3 m") << "2.9995" << 3000;
        QTest::newRow("not a number") << "abc" << -999;
    }
    void editsGiveMillimetres()
    {
        QFETCH(QString, text);
        QFETCH(qint32, mm);
        Rig r;
        TformMain &w = *r.form;
        typeEdit(w.editCrestHeight, text);
        QCOMPARE(w.crestHeight, mm);
        typeEdit(w.editChanWidth, text);
        QCOMPARE(w.channelWidth, mm);
        typeEdit(w.editNotchWidth, text);
        QCOMPARE(w.notchWidth, mm);
        QVERIFY(w.channelChanged);
        QCOMPARE(w.btnSendChannelData->palette().color(QPalette::ButtonText), QColor(255, 0, 0));
    }

    void upDownSteps_data()
    {
        QTest::addColumn<qint32>("start");
        QTest::addColumn<bool>("up");
        QTest::addColumn<qint32>("after");
        QTest::addColumn<QString>("text");
        QTest::newRow("up 50") << 1000 << true << 1050 << "1.050";
        QTest::newRow("down 50") << 1000 << false << 950 << "0.950";
        QTest::newRow("top stays") << 10000 << true << 10000 << "10.000";
        QTest::newRow("bottom stays") << 50 << false << 50 << "0.050";
        QTest::newRow("typed above comes back") << 12000 << true << 10000 << "10.000";
        QTest::newRow("typed below comes back") << 10 << false << 50 << "0.050";
    }
    void upDownSteps()
    {
        QFETCH(qint32, start);
        QFETCH(bool, up);
        QFETCH(qint32, after);
        QFETCH(QString, text);
        Rig r;
        TformMain &w = *r.form;
        w.crestHeight = start;
        bool allow = true;
        w.udChanWidthChangingEx(w.udCrestHeight, allow, 0, up ? UpDown::Up : UpDown::Down);
        QCOMPARE(w.crestHeight, after);
        QCOMPARE(w.editCrestHeight->text(), text);
    }

    // The halving rule judges a finished width, never a half-typed one: typing 1.8
    // over 1.500 passes through "1", narrower than a notch of 1.200.
    void notchRuleRunsOnAFinishedWidth_data()
    {
        QTest::addColumn<qint32>("width");
        QTest::addColumn<qint32>("notch");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<qint32>("notchWhileTyping");
        QTest::addColumn<qint32>("notchAfter");
        QTest::addColumn<qint32>("trackMaximum");
        QTest::newRow("1.8 over 1.5, notch 1.2") << 1500 << 1200 << "1.8" << 1200 << 1200 << 1800;
        QTest::newRow("narrowed to 0.8, notch 0.9") << 1000 << 900 << "0.8" << 900 << 400 << 800;
        QTest::newRow("narrowed to 0.3, notch 0.2") << 1000 << 200 << "0.3" << 200 << 200 << 300;
        QTest::newRow("comma typed, 0,4 against 0.5") << 1000 << 500 << "0,4" << 500 << 200 << 400;
    }
    void notchRuleRunsOnAFinishedWidth()
    {
        QFETCH(qint32, width);
        QFETCH(qint32, notch);
        QFETCH(QString, keys);
        Rig r;
        TformMain &w = *r.form;
        w.cbChanType->setCurrentIndex(ctConstrictedWeir);
        w.cbChanTypeClick();
        w.setChannelEditText(w.editChanWidth, MetresText(width));
        w.notchWidth = notch;
        w.editChanWidth->selectAll();
        for (QChar c : keys) {
            QTest::keyClick(w.editChanWidth, c.toLatin1());
            QTEST(w.notchWidth, "notchWhileTyping");
        }
        QCOMPARE(w.channelWidth, MillimetresFromText(QString(keys).replace(',', '.')));
        QTest::keyClick(w.editChanWidth, Qt::Key_Return);
        QTEST(w.notchWidth, "notchAfter");
        QTEST(w.tbNotchData->maximum(), "trackMaximum");
        QCOMPARE(w.tbNotchData->value(), w.notchWidth);
        // Leaving the box once more changes nothing further.
        emit w.editChanWidth->editingFinished();
        QTEST(w.notchWidth, "notchAfter");
    }

    void notchRuleRunsOnAnArrowStep()
    {
        Rig r;
        TformMain &w = *r.form;
        w.cbChanType->setCurrentIndex(ctConstrictedWeir);
        w.cbChanTypeClick();
        w.setChannelEditText(w.editChanWidth, QStringLiteral("1.000"));
        w.notchWidth = 1000;
        w.udChanWidth->click(UpDown::Down);
        QCOMPARE(w.channelWidth, 950);
        QCOMPARE(w.notchWidth, 475);
        QCOMPARE(w.tbNotchData->maximum(), 950);
        // The crest height's arrows leave the notch alone.
        w.notchWidth = 2000;
        w.udCrestHeight->click(UpDown::Down);
        QCOMPARE(w.notchWidth, 2000);
    }

    // A file's type and dimensions are taken together: the type shown before loading
    // plays no part in whether the file's notch fits its channel.
    void loadedDescriptionKeepsItsNotch_data()
    {
        QTest::addColumn<int>("typeBefore");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<qint32>("notch");
        QTest::addColumn<qint32>("width");
        QTest::newRow("v-notch file over a constricted weir")
            << int(ctConstrictedWeir)
            << QByteArray("[Channels]\r\nChannel Type=4\r\nChannel Width=1000\r\nNotch Width=1200\r\n")
            << 1200 << 1000;
        QTest::newRow("constricted file, notch fits")
            << int(ctConstrictedWeir)
            << QByteArray("[Channels]\r\nChannel Type=3\r\nChannel Width=800\r\nNotch Width=600\r\n") << 600
            << 800;
        QTest::newRow("constricted file, notch wider than its channel")
            << int(ctVNotchWeir)
            << QByteArray("[Channels]\r\nChannel Type=3\r\nChannel Width=800\r\nNotch Width=900\r\n") << 400
            << 800;
    }
    void loadedDescriptionKeepsItsNotch()
    {
        QFETCH(int, typeBefore);
        QFETCH(QByteArray, file);
        QTemporaryDir dir;
        const QString path = writeTestFile(dir, QStringLiteral("site.cdf"), file);
        QVERIFY(!path.isEmpty());
        Rig r;
        TformMain &w = *r.form;
        w.cbChanType->setCurrentIndex(typeBefore);
        w.cbChanTypeClick();
        r.dialogs.openAnswers << path;
        w.menuLoadChannelClick();
        QVERIFY(r.dialogs.messages.isEmpty());
        QTEST(w.notchWidth, "notch");
        QTEST(w.channelWidth, "width");
    }

    // What a key typed into a dimension edit does to the text, and whether it beeps.
    void dimensionKeys_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("beeps");
        QTest::newRow("digits and a point") << "12.5"
                                            << "12.5" << 0;
        QTest::newRow("comma as the point") << "1,5"
                                            << "1.5" << 0;
        QTest::newRow("minus refused") << "-2"
                                       << "2" << 1;
        QTest::newRow("exponent refused") << "1e3"
                                          << "13" << 1;
        QTest::newRow("letters and blank") << "a1 b"
                                           << "1" << 3;
        QTest::newRow("comma after a point") << "0.,7"
                                             << "0..7" << 0;
    }
    void dimensionKeys()
    {
        QFETCH(QString, keys);
        QFETCH(QString, text);
        QFETCH(int, beeps);
        Rig r;
        TformMain &w = *r.form;
        for (QLineEdit *edit : {w.editCrestHeight, w.editChanWidth, w.editNotchWidth}) {
            r.dialogs.beeps = 0;
            edit->clear();
            QTest::keyClicks(edit, keys);
            QCOMPARE(edit->text(), text);
            QCOMPARE(r.dialogs.beeps, beeps);
        }
        QCOMPARE(w.crestHeight, MillimetresFromText(text));
        // Keys that type nothing still reach the edit.
        QTest::keyClick(w.editCrestHeight, Qt::Key_Backspace);
        QCOMPARE(w.editCrestHeight->text(), text.chopped(1));
        QCOMPARE(r.dialogs.beeps, beeps);
    }

    // Only a regular file of at most a megabyte is read as a description, and a
    // description goes only where it can be written; anything else is refused with a
    // message and leaves the description as it was.
    void oddFilesAreRefused_data()
    {
        QTest::addColumn<QString>("kind");
#ifndef _WIN32 // Windows files are neither pipes nor devices
        QTest::newRow("fifo") << "fifo";
        QTest::newRow("link to /dev/zero") << "zero";
#endif
        QTest::newRow("over a megabyte") << "large";
        QTest::newRow("directory") << "directory";
        QTest::newRow("saved into a missing folder") << "save";
    }
    void oddFilesAreRefused()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const bool save = kind == QLatin1String("save");
        const QString path =
            dir.filePath(save ? QStringLiteral("missing/site.cdf") : QStringLiteral("odd.cdf"));
#ifndef _WIN32
        if (kind == QLatin1String("fifo")) {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (kind == QLatin1String("zero")) {
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
        } else
#endif
            if (kind == QLatin1String("large")) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("[Channels]\r\nChannel Type=2\r\n");
            f.write(QByteArray(1024 * 1024, ' '));
        } else if (!save) {
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("odd.cdf")));
        }
        Rig r;
        TformMain &w = *r.form;
        w.crestHeight = 1234;
        w.markChannelChanged(false);
        if (save) {
            r.dialogs.saveAnswers << path;
            w.menuSaveChannelClick();
        } else {
            r.dialogs.openAnswers << path;
            w.menuLoadChannelClick();
        }
        QCOMPARE(r.dialogs.messages.size(), 1);
        QCOMPARE(
            r.dialogs.messages.at(0).text,
            (save ? QStringLiteral("Unable to write to %1") : QStringLiteral("Unable to read %1")).arg(path));
        QCOMPARE(w.crestHeight, 1234);
        QCOMPARE(w.cbChanType->currentIndex(), int(ctMeasureDistance));
        QVERIFY(!w.channelChanged);
    }

    void trackBarSetsTheNotchOfItsType()
    {
        Rig r;
        TformMain &w = *r.form;
        w.cbChanType->setCurrentIndex(ctVNotchWeir);
        w.notchAngle = 90;
        w.SetupNotchAngleTrackBar();
        w.markChannelChanged(false);
        w.btnChanIncClick();
        QCOMPARE(w.notchAngle, 91);
        QVERIFY(w.channelChanged);
        w.tbNotchData->setValue(150);
        w.btnChanIncClick(); // at the top already
        QCOMPARE(w.notchAngle, 150);
        w.btnChanDecClick();
        QCOMPARE(w.notchAngle, 149);
    }

    void trackBarDoesNothingForARectangularWeir()
    {
        Rig r;
        TformMain &w = *r.form;
        w.cbChanType->setCurrentIndex(ctRectangularWeir);
        w.notchAngle = 90;
        w.notchWidth = 500;
        w.markChannelChanged(false);
        w.tbNotchData->setValue(w.tbNotchData->value() == 100 ? 101 : 100);
        w.tbNotchDataChange();
        QCOMPARE(w.notchAngle, 90);
        QCOMPARE(w.notchWidth, 500);
        QVERIFY(!w.channelChanged);
        QCOMPARE(w.btnSendChannelData->palette().color(QPalette::ButtonText), QColor(0, 0, 0));
    }

    void setUpsDoNotMarkAChange()
    {
        Rig r;
        TformMain &w = *r.form;
        w.channelWidth = 1000;
        w.notchWidth = 400;
        w.notchAngle = 60;
        w.cbChanType->setCurrentIndex(ctConstrictedWeir);
        w.markChannelChanged(false);
        w.SetupNotchWidthTrackBar();
        QCOMPARE(w.tbNotchData->minimum(), 150);
        QCOMPARE(w.tbNotchData->maximum(), 1000);
        QCOMPARE(w.tbNotchData->value(), 400);
        w.cbChanType->setCurrentIndex(ctVNotchWeir);
        w.SetupNotchAngleTrackBar();
        QCOMPARE(w.tbNotchData->minimum(), 15);
        QCOMPARE(w.tbNotchData->maximum(), 150);
        QCOMPARE(w.tbNotchData->value(), 60);
        QVERIFY(!w.channelChanged);
        QCOMPARE(w.notchWidth, 400);
    }

    void saveThenLoadRestoresTheDescription()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("site.cdf"));
        Rig a;
        TformMain &w = *a.form;
        w.cbChanType->setCurrentIndex(ctConstrictedWeir);
        typeEdit(w.editCrestHeight, QStringLiteral("0.750"));
        typeEdit(w.editChanWidth, QStringLiteral("2.500"));
        typeEdit(w.editNotchWidth, QStringLiteral("1.200"));
        w.notchAngle = 45;
        a.dialogs.saveAnswers << path;
        w.menuSaveChannelClick();
        QVERIFY(a.dialogs.messages.isEmpty());

        Rig b;
        TformMain &v = *b.form;
        b.dialogs.openAnswers << path;
        v.menuLoadChannelClick();
        QCOMPARE(v.cbChanType->currentIndex(), int(ctConstrictedWeir));
        QCOMPARE(v.notchAngle, 45);
        QCOMPARE(v.crestHeight, 750);
        QCOMPARE(v.channelWidth, 2500);
        QCOMPARE(v.notchWidth, 1200);
        QCOMPARE(v.editChanWidth->text(), QStringLiteral("2.500"));
        QVERIFY(v.channelChanged);
    }
};

QTEST_MAIN(TestChannelControls)
#include "tst_channelcontrols.moc"
