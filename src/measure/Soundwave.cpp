// The sound-wave animation under the sensor while a measurement is outstanding.
// The lines are drawn on a transparent layer over the sensor drawing; where they stop
// is decided on a copy of what the window shows under that layer, read back once
// when the animation starts (nothing under it can change while a measurement runs:
// the controls that change the drawing are disabled).
#include "measure/Soundwave.h"

#include "app/Mainform.h"
#include "core/Timer.h"

#include <QPainter>

#include <cmath>

bool StopsSoundWave(QRgb pixel)
{
    const QRgb rgb = pixel & 0xFFFFFF;
    return rgb == 0x000000 || rgb == (qRgb(166, 202, 240) & 0xFFFFFF);
}

void InitSoundWave(TSoundWave &wave, qint32 originX, float slope, qint32 steps)
{
    wave.originX = originX;
    wave.originY = -44;
    wave.tipX = wave.originX;
    wave.tipY = wave.originY;
    wave.slope = slope;
    wave.length = 44;
    wave.descending = true;
    wave.stepsPerTick = steps;
    wave.drawn = false;
}

void StepSoundWaveOnce(TSoundWave &wave, const QImage &backdrop)
{
    wave.drawn = false; // erased before it moves
    if (wave.descending) {
        const qint32 n = wave.length + 1;
        const float x = float(double(wave.originX) + double(n) * double(wave.slope));
        const qint32 y = wave.originY + n;
        // The next column on the tip's own row: a line leaves its end pixel undrawn,
        // so the tip's pixel still shows the picture underneath.
        const qint32 row = wave.originY + wave.length;
        const bool outside = x < 0 || x >= float(backdrop.width()) || y >= backdrop.height();
        if (outside || row < 0 || StopsSoundWave(backdrop.pixel(int(x), row))) {
            wave.descending = false;
            return;
        }
        wave.length = n;
        wave.tipX = qint32(x);
        wave.tipY = y;
        wave.drawn = true;
        return;
    }
    wave.length -= 1;
    if (wave.length <= 44) {
        wave.descending = true; // back at the sensor face
        return;
    }
    const float x = float(double(wave.originX) + double(wave.length) * double(wave.slope));
    wave.tipX = qint32(x);
    wave.tipY = wave.originY + wave.length;
    wave.drawn = true;
}

void DrawSoundWaves(QPainter &painter, const TSoundWave *waves, int count)
{
    QPen pen(soundWaveColour(), 1);
    pen.setCapStyle(Qt::FlatCap); // the end point is left out
    painter.setPen(pen);
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (int i = 0; i < count; ++i) {
        const TSoundWave &w = waves[i];
        if (w.drawn)
            painter.drawLine(w.originX, w.originY, w.tipX, w.tipY);
    }
}

QRect SoundWaveBounds(const TSoundWave &wave)
{
    if (!wave.drawn)
        return QRect();
    const QRect line = QRect(QPoint(wave.originX, wave.originY), QPoint(wave.tipX, wave.tipY)).normalized();
    return line.adjusted(-1, -1, 1, 1);
}

QRegion SoundWaveDirtyRegion(const TSoundWave &before, const TSoundWave &after)
{
    const QRect was = SoundWaveBounds(before);
    const QRect now = SoundWaveBounds(after);
    if (was == now)
        return QRegion();
    return QRegion(was).united(now);
}

SoundWaveOverlay::SoundWaveOverlay(const TSoundWave *waves, int count, QWidget *parent)
    : QWidget(parent), waves(waves), count(count)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
}

void SoundWaveOverlay::paintEvent(QPaintEvent *)
{
    if (hideLines)
        return;
    QPainter p(this);
    DrawSoundWaves(p, waves, count);
}

// ------------------------------------------------------------------------ the window's part

void TformMain::buildSoundWaves()
{
    sonarOverlay = new SoundWaveOverlay(soundWaves, soundWaveCount, pbSensor);
    sonarOverlay->setGeometry(pbSensor->rect());
    connect(timerSonar, &Timer::timeout, this, &TformMain::timerSonarTimer);
}

void TformMain::StartSoundWaves()
{
    // The apex stands over the centre of the sensor face.
    const qint32 originX = shapeEchoGauge1->x() + shapeEchoGauge1->geometry().width() / 2 - pbSensor->x();
    for (int i = 0; i < soundWaveCount; ++i)
        InitSoundWave(soundWaves[i], originX, soundWaveSlopes[i], soundWaveStepsPerTick);

    // What the window shows where the drawing stands, the walls lying over it included.
    sonarOverlay->setGeometry(pbSensor->rect());
    sonarOverlay->hideLines = true;
    // Read with a margin: a control that only reaches into the drawing's edge is left
    // out of a read-back confined to the drawing itself.
    const QRect box = pbSensor->geometry();
    const int margin = 8;
    const QImage around = tabSensor->grab(box.adjusted(-margin, -margin, margin, margin)).toImage();
    const qreal ratio = around.devicePixelRatio();
    sonarBackdrop = around.copy(QRect(QPoint(int(margin * ratio), int(margin * ratio)), box.size() * ratio))
                        .scaled(box.size());
    sonarOverlay->hideLines = false;
    sonarOverlay->raise();
    sonarOverlay->show(); // no line stands yet: nothing to repaint
    timerSonar->setInterval(soundWaveTickMs);
    timerSonar->start();
}

void TformMain::StopSoundWaves()
{
    timerSonar->stop();
    for (TSoundWave &w : soundWaves)
        EraseSoundWave(w);
}

void TformMain::EraseSoundWave(TSoundWave &wave)
{
    const TSoundWave before = wave;
    wave.drawn = false;
    sonarOverlay->update(SoundWaveDirtyRegion(before, wave));
}

void TformMain::StepSoundWave(TSoundWave &wave)
{
    for (int i = 0; i < wave.stepsPerTick; ++i)
        StepSoundWaveOnce(wave, sonarBackdrop);
}

void TformMain::timerSonarTimer()
{
    // Only where lines moved is repainted: a repaint of the whole drawing 66 times a
    // second would cost more than everything else the window does while measuring.
    QRegion moved;
    for (TSoundWave &w : soundWaves) {
        const TSoundWave before = w;
        StepSoundWave(w);
        moved += SoundWaveDirtyRegion(before, w);
    }
    if (!moved.isEmpty())
        sonarOverlay->update(moved);
}
