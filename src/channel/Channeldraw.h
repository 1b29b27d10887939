#pragma once

#include <QColor>
#include <QPoint>
#include <QString>

class QPainter;

// The channel cross-sections drawn under the sensor: water, weir plates and, on the
// channel page, the dimension arrows with their letters. W and H are the size of the
// paint box; withDimensions is false for the picture on the sensor page.

inline QColor waterColour()
{
    return QColor(166, 202, 240);
}

// Rotates the first count points about the origin, the last first; (0, 0) stays.
void RotatePoints(QPoint *points, int count, double angle);

// A filled arrowhead with its tip at (x, y); angle 0 points right, pi/2 down.
void DrawArrowHead(QPainter &canvas, int x, int y, int length, int width, double angle);

void DrawDistancePicture(QPainter &p, int W, int H, bool withDimensions);
void DrawDepthPicture(QPainter &p, int W, int H, bool withDimensions);
void DrawRectangularPicture(QPainter &p, int W, int H, bool withDimensions);

struct ConstrictedGeometry
{
    int s; // plate top and water surface of the approach
    int c; // crest
    int w; // water line in the notch
    int k; // width of each side plate
};
// A channel width of 0 or less, or a notch wider than the channel, draws the notch
// across the whole channel; a notch of 0 or less closes it.
ConstrictedGeometry constrictedGeometry(int W, int H, qint32 notchWidth, qint32 channelWidth);
// Wc: the width of the channel page's picture, which both paint boxes share.
void DrawConstrictedPicture(QPainter &p, int W, int H, int Wc, qint32 notchWidth, qint32 channelWidth,
                            bool withDimensions);

struct VNotchGeometry
{
    double a; // half angle, radians
    double t; // its tangent
    QPoint V; // vertex
    int s;    // plate top
    QPoint SL, SR;
    int ew;   // water half-width at the water line
    int y;    // water line
    double r; // radius of the angle arc
};
VNotchGeometry vnotchGeometry(int W, int H, qint32 notchAngle);
void DrawVNotchPicture(QPainter &p, int W, int H, qint32 notchAngle, bool withDimensions);

QString NotchWidthCaption(qint32 notchWidth);
QString NotchAngleText(qint32 notchAngle); // "90º"
