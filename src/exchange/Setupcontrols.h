#pragma once

#include <QColor>

class QPushButton;

// A button's caption colour while it can be clicked: red marks what the sensor may
// not hold yet. A disabled button's caption stays greyed whatever the mark.
void setCaptionColour(QPushButton *button, const QColor &colour);
QColor captionColour(const QPushButton *button);

// The pixel row of a vertical slider's thumb centre, position 0 at the top.
int TrackThumbRow(int barTop, int barHeight, int position, int maximum);
