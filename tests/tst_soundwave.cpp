// The sound-wave animation: where a line turns, how it grows and shrinks, what is
// drawn, and that nothing stays on screen once the measurement ends.
#include "ExchangeRig.h"

#include "measure/Soundwave.h"

#include <QComboBox>
#include <QPainter>
#include <QTest>

namespace {

const QColor water(166, 202, 240);

// A backdrop of the drawing's design size, white, with water from waterRow down.
QImage backdrop(int waterRow, int width = 145, int height = 196)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    if (waterRow < height)
        QPainter(&image).fillRect(0, waterRow, width, height - waterRow, water);
    return image;
}

// The lengths after every single step.
QList<int> lengths(TSoundWave &wave, const QImage &picture, int steps)
{
    QList<int> out;
    for (int i = 0; i < steps; ++i) {
        StepSoundWaveOnce(wave, picture);
        out << wave.length;
    }
    return out;
}

} // namespace

class TestSoundWave : public QObject
{
    Q_OBJECT

private slots:
    void stoppingColours_data()
    {
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<bool>("stops");
        QTest::newRow("black walls and bed") << QColor(Qt::black) << true;
        QTest::newRow("sky-blue water") << water << true;
        QTest::newRow("white") << QColor(Qt::white) << false;
        QTest::newRow("the window's grey") << QColor(239, 239, 239) << false;
        QTest::newRow("a blue one off the water") << QColor(166, 202, 241) << false;
        QTest::newRow("the line's own green") << QColor(0, 128, 0) << false;
    }

    void stoppingColours()
    {
        QFETCH(QColor, colour);
        QFETCH(bool, stops);
        QCOMPARE(StopsSoundWave(colour.rgb()), stops);
    }

    // Over water beginning at row 100 the vertical line grows to length 144 (its tip on
    // row 100), turns, shrinks back to 45, turns at the face and grows again.
    void verticalLineOverWater()
    {
        TSoundWave wave;
        InitSoundWave(wave, 72, 0.0f, 6);
        const QImage picture = backdrop(100);
        const QList<int> seen = lengths(wave, picture, 400);

        const int top = seen.indexOf(144);
        QVERIFY(top > 0);
        QCOMPARE(*std::max_element(seen.begin(), seen.end()), 144);
        QCOMPARE(seen.at(top + 1), 144); // the turn: nothing drawn in that step
        QCOMPARE(seen.at(top + 2), 143);
        const int bottom = seen.indexOf(45, top);
        QCOMPARE(seen.at(bottom + 1), 44); // back at the face: it turns
        QCOMPARE(seen.at(bottom + 2), 45); // and grows again
        QCOMPARE(*std::min_element(seen.begin() + top, seen.end()), 44);

        // The moment the tip is on row 100: drawn down to row 99, the water untouched.
        TSoundWave atTip;
        InitSoundWave(atTip, 72, 0.0f, 6);
        while (atTip.length < 144)
            StepSoundWaveOnce(atTip, picture);
        QCOMPARE(atTip.tipY, 100);
        QVERIFY(atTip.drawn);
        QImage screen = picture;
        QPainter p(&screen);
        DrawSoundWaves(p, &atTip, 1);
        p.end();
        QCOMPARE(screen.pixelColor(72, 99), soundWaveColour());
        QCOMPARE(screen.pixelColor(72, 100), water);
        QCOMPARE(screen.pixelColor(72, 0), soundWaveColour());
        QCOMPARE(screen.pixelColor(73, 50), QColor(Qt::white));
    }

    // The slanted lines stop where their own path meets the water, one pixel to the
    // side; with no water a line reaches the bottom edge and turns there.
    void linesStopAtTheWater_data()
    {
        QTest::addColumn<float>("slope");
        QTest::addColumn<int>("waterRow");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("tipY");
        QTest::newRow("0.18 to the right") << 0.181818f << 65 << 196 << 65;
        QTest::newRow("0.18 to the left") << -0.181818f << 65 << 196 << 65;
        QTest::newRow("0.36 to the right") << 0.363636f << 65 << 196 << 65;
        QTest::newRow("0.36 to the left") << -0.363636f << 65 << 196 << 65;
        QTest::newRow("no water: bottom edge") << 0.0f << 1000 << 120 << 119;
    }

    void linesStopAtTheWater()
    {
        QFETCH(float, slope);
        QFETCH(int, waterRow);
        QFETCH(int, height);
        QFETCH(int, tipY);
        TSoundWave wave;
        InitSoundWave(wave, 72, slope, 6);
        while (wave.descending)
            StepSoundWaveOnce(wave, backdrop(waterRow, 145, height));
        QCOMPARE(wave.length, 44 + tipY);
        QCOMPARE(wave.tipY, tipY);
        QCOMPARE(wave.tipX, int(float(72.0 + double(44 + tipY) * double(slope))));
    }

    // A line whose next x falls left of 0 or at or beyond the width turns at once.
    void leavingTheBoxTurnsAtOnce_data()
    {
        QTest::addColumn<int>("originX");
        QTest::addColumn<float>("slope");
        QTest::addColumn<int>("width");
        QTest::newRow("left of 0") << 0 << -0.363636f << 145;
        QTest::newRow("at the width") << 144 << 0.363636f << 145;
        QTest::newRow("origin beyond the box") << 145 << 0.0f << 145;
        QTest::newRow("narrow box") << 5 << 0.181818f << 10;
    }

    void leavingTheBoxTurnsAtOnce()
    {
        QFETCH(int, originX);
        QFETCH(float, slope);
        QFETCH(int, width);
        TSoundWave wave;
        InitSoundWave(wave, originX, slope, 6);
        StepSoundWaveOnce(wave, backdrop(1000, width, 196));
        QVERIFY(!wave.descending);
        QVERIFY(!wave.drawn);
        QCOMPARE(wave.length, 44);
        StepSoundWaveOnce(wave, backdrop(1000, width, 196));
        QVERIFY(wave.descending); // and straight back at the face
    }

    // A tick repaints only where lines moved: every pixel that changes between the
    // lines as they stood and as they stand lies in the dirty region, and the region
    // is a small part of the drawing.
    void dirtyRegionOfATick_data()
    {
        QTest::addColumn<float>("slope");
        QTest::addColumn<int>("ticks"); // ticks before the one looked at
        QTest::newRow("first tick from the face") << 0.0f << 0;
        QTest::newRow("growing") << 0.181818f << 4;
        QTest::newRow("turning at the water") << -0.363636f << 9;
        QTest::newRow("shrinking") << 0.363636f << 12;
        QTest::newRow("turning at the face") << 0.0f << 18;
    }

    void dirtyRegionOfATick()
    {
        QFETCH(float, slope);
        QFETCH(int, ticks);
        const QImage picture = backdrop(56);
        TSoundWave wave;
        InitSoundWave(wave, 72, slope, 6);
        for (int i = 0; i < ticks * 6; ++i)
            StepSoundWaveOnce(wave, picture);
        const TSoundWave before = wave;
        for (int i = 0; i < 6; ++i)
            StepSoundWaveOnce(wave, picture);
        QVERIFY(before.length != wave.length || before.drawn != wave.drawn);

        auto drawn = [&](const TSoundWave &w) {
            QImage screen = picture;
            QPainter p(&screen);
            DrawSoundWaves(p, &w, 1);
            return screen;
        };
        const QImage was = drawn(before);
        const QImage now = drawn(wave);
        const QRegion dirty = SoundWaveDirtyRegion(before, wave);
        int changed = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                if (was.pixel(x, y) != now.pixel(x, y)) {
                    ++changed;
                    QVERIFY2(dirty.contains(QPoint(x, y)), qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
                }
        QVERIFY(changed > 0);
        const QRect box = picture.rect();
        qint64 area = 0;
        for (const QRect &r : dirty.intersected(box))
            area += qint64(r.width()) * r.height();
        QVERIFY2(area * 4 < qint64(box.width()) * box.height(), qPrintable(QString::number(area)));
        QVERIFY(SoundWaveDirtyRegion(wave, wave).isEmpty());
    }

    // In the window: the fan starts with the measurement, moves six pixels per 15 ms
    // tick, stops at the walls drawn over the picture, and is gone when it ends.
    void animationInTheWindow()
    {
        ExchangeRig rig(QStringLiteral("soundwave"));
        rig.serial.addSilentPort(3);
        OpenPort(&rig.form->commPort, 3, 9600);
        TformMain &f = *rig.form;
        f.cbChanType->setCurrentIndex(0);
        f.menuMeasureClick();
        QVERIFY(f.timerSonar->isActive());
        QCOMPARE(f.timerSonar->interval(), 15);

        const int centre =
            f.shapeEchoGauge1->x() + f.shapeEchoGauge1->geometry().width() / 2 - f.pbSensor->x();
        const float slopes[5] = {0.0f, 0.181818f, -0.181818f, 0.363636f, -0.363636f};
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(f.soundWaves[i].originX, centre);
            QCOMPARE(f.soundWaves[i].originY, -44);
            QCOMPARE(f.soundWaves[i].slope, slopes[i]);
            QCOMPARE(f.soundWaves[i].stepsPerTick, 6);
        }
        // The backdrop is what the window shows: the walls cover the drawing's edges.
        QCOMPARE(f.sonarBackdrop.size(), f.pbSensor->size());
        QCOMPARE(f.sonarBackdrop.pixelColor(0, f.pbSensor->height() - 10), QColor(Qt::black));
        QCOMPARE(f.sonarBackdrop.pixelColor(f.pbSensor->width() - 1, f.pbSensor->height() - 10),
                 QColor(Qt::black));
        // The distance drawing has its water a third of the way down.
        QCOMPARE(f.sonarBackdrop.pixelColor(centre, f.pbSensor->height() / 3 + 2), water);

        rig.clock.advance(15);
        QCOMPARE(f.soundWaves[0].length, 50);
        // Six steps a tick: the line reaches the water surface within the tick that gets
        // there, turns, and spends that tick's remaining steps shrinking.
        const int surface = f.pbSensor->height() / 3;
        int ticks = 1;
        while (f.soundWaves[0].descending && ticks < 100) {
            rig.clock.advance(15);
            ++ticks;
        }
        const int stepsToTurn = surface + 1; // growing to the surface row, then the turn
        QCOMPARE(ticks, (stepsToTurn + 5) / 6);
        QCOMPARE(f.soundWaves[0].length, 44 + surface - (ticks * 6 - stepsToTurn));
        rig.clock.advance(15);
        const QImage drawn = f.sonarOverlay->grab().toImage();
        QCOMPARE(drawn.pixelColor(centre, 10), soundWaveColour());
        QCOMPARE(drawn.pixelColor(centre + 10, 10), QColor(Qt::transparent));

        // The measurement fails after its three attempts: no line is left.
        rig.clock.advance(8000);
        QCOMPARE(f.portState, qint8(psIdle));
        QVERIFY(!f.timerSonar->isActive());
        for (const TSoundWave &w : f.soundWaves)
            QVERIFY(!w.drawn);
        const QImage after = f.sonarOverlay->grab().toImage();
        for (int y = 0; y < after.height(); ++y)
            for (int x = 0; x < after.width(); ++x)
                QVERIFY(after.pixelColor(x, y) != soundWaveColour());
    }
};

QTEST_MAIN(TestSoundWave)
#include "tst_soundwave.moc"
