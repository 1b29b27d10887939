#pragma once

#include <QColor>
#include <QImage>
#include <QRegion>
#include <QWidget>

class QPainter;

// One sound line of the animation under the sensor: it hangs from an apex 44 pixels
// above the drawing (level with the sensor's mounting), grows downward until it meets
// the water, a wall or the bed, shrinks back to the sensor face and grows again.
struct TSoundWave
{
    qint32 originX = 0;
    qint32 originY = -44;
    qint32 tipX = 0;
    qint32 tipY = -44;
    float slope = 0;    // horizontal pixels per pixel of descent
    qint32 length = 44; // vertical extent below the apex
    bool descending = true;
    qint32 stepsPerTick = 0;
    // The line as it stands on screen after the last step: a step that turns the line
    // erases it without drawing it again.
    bool drawn = false;
};

inline constexpr int soundWaveCount = 5;
// Fanned across the 32-pixel sensor face: the lines cross the drawing's top edge at
// 0, +8, -8, +16 and -16 pixels from its centre.
inline constexpr float soundWaveSlopes[soundWaveCount] = {0.0f, 0.181818f, -0.181818f, 0.363636f, -0.363636f};
inline constexpr int soundWaveStepsPerTick = 6;
inline constexpr int soundWaveTickMs = 15;

inline QColor soundWaveColour()
{
    return QColor(0, 128, 0);
}

// A line stops on black (walls, bed, weir plates) and on the water's sky blue.
bool StopsSoundWave(QRgb pixel);

void InitSoundWave(TSoundWave &wave, qint32 originX, float slope, qint32 steps);

// One step of a line over the backdrop: what the window shows where the drawing
// stands, the size of the drawing. The line turns where the next pixel below its tip
// stops it, or where it would leave the drawing.
void StepSoundWaveOnce(TSoundWave &wave, const QImage &backdrop);

// Draws the lines that stand on screen, from the apex to the tip without the tip's
// own pixel, which still shows the picture underneath.
void DrawSoundWaves(QPainter &painter, const TSoundWave *waves, int count);

// The pixels a line can cover on screen, with a pixel to spare all round; empty when
// the line is not drawn.
QRect SoundWaveBounds(const TSoundWave &wave);
// What a tick of a line leaves to repaint: where it stood and where it stands now.
// Nothing when it has not moved.
QRegion SoundWaveDirtyRegion(const TSoundWave &before, const TSoundWave &after);

// The transparent layer over the sensor drawing on which the lines are drawn, so the
// drawing itself is never painted over and needs no repair when they go.
class SoundWaveOverlay : public QWidget
{
    Q_OBJECT

public:
    SoundWaveOverlay(const TSoundWave *waves, int count, QWidget *parent);

    // While the window's picture is read back for the backdrop, the lines are left out.
    bool hideLines = false;

protected:
    void paintEvent(QPaintEvent *) override;

private:
    const TSoundWave *waves;
    int count;
};
