// The Sensor Setup page's controls. Placement is still to be done.
#include "app/Mainform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>

void TformMain::buildSensorPage()
{
    QWidget *p = tabSensor;
    pbSensor = new PaintBox(p);
    shapeEchoGauge1 = new Shape(Shape::Rectangle, p);
    shapeEchoGauge2 = new Shape(Shape::Rectangle, p);
    shapeEchoGauge3 = new Shape(Shape::Rectangle, p);
    shapeEchoGauge4 = new Shape(Shape::Rectangle, p);
    shapeBar = new Shape(Shape::Rectangle, p);
    shapeVert = new Shape(Shape::Rectangle, p);
    shapeBtm = new Shape(Shape::Rectangle, p);
    labelH = new QLabel(QStringLiteral("h"), p);
    shapeWallLeft = new Shape(Shape::Rectangle, p);
    shapeWallRight = new Shape(Shape::Rectangle, p);
    shapeWallBtm = new Shape(Shape::Rectangle, p);
    trackSensorHeight = new QSlider(Qt::Vertical, p);
    textSensorHeight = new QLabel(QStringLiteral("10.000m"), p);
    textSerial = new QLabel(QStringLiteral("00000"), p);
    btnHeightUp = new QPushButton(QStringLiteral("+"), p);
    btnHeightDown = new QPushButton(QStringLiteral("-"), p);
    btnMeasure = new QPushButton(QStringLiteral("&Take Measurement"), p);
    cb_Continuous = new QCheckBox(QStringLiteral("Continuous"), p);
    GroupBox1 = new QGroupBox(QStringLiteral("  Last Measurement  "), p);
    textResultHeight = new QLabel(QStringLiteral("<None>"), GroupBox1);
    textResultSamples = new QLabel(QStringLiteral("<None>"), GroupBox1);
    textResultGain = new QLabel(QStringLiteral("<None>"), GroupBox1);
    groupHistory = new QGroupBox(QStringLiteral("  Measurement History  "), p);
    scrollGraphArea = new QScrollArea(groupHistory);
    cbHead = new QCheckBox(QStringLiteral("Water Head"), groupHistory);
    cbFlow = new QCheckBox(QStringLiteral("Flow"), groupHistory);
    btnClearGraph = new QPushButton(QStringLiteral("Clear"), groupHistory);
    btnSetHeight = new QPushButton(QStringLiteral("S&et Sensor Height (10.000m)"), p);
    cbSetMaxHeight = new QCheckBox(QStringLiteral("Set Maximum Height"), p);
    labelTarvelCal = new QLabel(QStringLiteral("Tarvel Calibration:"), p);
    textTarvelCal = new QLabel(QStringLiteral("<None>"), p);
    cbLostEcho = new QComboBox(p);
    editLostEchoValue = new QLineEdit(p);
}
