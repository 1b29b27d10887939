#pragma once

#include <QColor>

class QPushButton;

// A button's caption colour: red marks a set-up not yet written to the sensor.
void setCaptionColour(QPushButton *button, const QColor &colour);
QColor captionColour(const QPushButton *button);

// The pixel row of a vertical slider's thumb centre, position 0 at the top.
int TrackThumbRow(int barTop, int barHeight, int position, int maximum);
