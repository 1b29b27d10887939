// The Sensor Setup page's controls and where they stand. The height drawing works in
// these pixel positions (the slider's thumb rows, the picture under the sensor), so the
// controls beside the slider keep their places; the rest follows the same layout.
#include "app/Mainform.h"
#include "measure/Historyview.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>

namespace {

Shape *filledBox(Shape::Kind kind, QWidget *parent, int left, int top, int width, int height, quint32 colour)
{
    auto *s = new Shape(kind, parent);
    s->setGeometry(left, top, width, height);
    s->setBrushColor(winColor(colour));
    s->setPenColor(kind == Shape::RoundRect ? Qt::black : winColor(colour));
    return s;
}

QLabel *placedLabel(const QString &text, QWidget *parent, int left, int top, bool bold = false)
{
    auto *l = new QLabel(text, parent);
    if (bold) {
        QFont f = l->font();
        f.setBold(true);
        l->setFont(f);
    }
    l->move(left, top);
    l->adjustSize();
    return l;
}

const quint32 navy = 0x800000;
const quint32 silver = 0xC0C0C0;
const quint32 black = 0x000000;

} // namespace

void TformMain::buildSensorPage()
{
    QWidget *p = tabSensor;
    QFont pictureFont(QStringLiteral("Arial"));
    pictureFont.setPixelSize(15);
    pictureFont.setBold(true);

    // The channel walls and bed around the drawing, as on the channel page.
    shapeWallLeft = filledBox(Shape::Rectangle, p, 75, 72, 4, 180, black);
    shapeWallRight = filledBox(Shape::Rectangle, p, 222, 72, 4, 180, black);
    shapeWallBtm = filledBox(Shape::Rectangle, p, 75, 248, 151, 4, black);
    pbSensor = new PaintBox(p);
    pbSensor->setGeometry(78, 52, 145, 196);
    pbSensor->setFont(pictureFont);
    shapeWallLeft->raise();
    shapeWallRight->raise();

    // The sensor body, the face (1) lowest, the mounting bar (4) on top.
    shapeEchoGauge4 = filledBox(Shape::RoundRect, p, 118, 20, 130, 8, silver);
    shapeEchoGauge3 = filledBox(Shape::Rectangle, p, 118, 28, 64, 8, navy);
    shapeEchoGauge2 = filledBox(Shape::Rectangle, p, 126, 36, 48, 8, navy);
    shapeEchoGauge1 = filledBox(Shape::Rectangle, p, 134, 44, 32, 8, navy);

    // The height dimension line between the slider and the drawing.
    shapeBar = filledBox(Shape::Rectangle, p, 48, 52, 26, 1, black);
    shapeVert = filledBox(Shape::Rectangle, p, 60, 52, 1, 196, black);
    shapeBtm = filledBox(Shape::Rectangle, p, 48, 248, 26, 1, black);
    labelH = new QLabel(QStringLiteral("h"), p);
    labelH->setFont(pictureFont);
    labelH->setGeometry(63, 140, 10, 18);

    trackSensorHeight = new QSlider(Qt::Vertical, p);
    trackSensorHeight->setGeometry(16, 39, 30, 222);
    trackSensorHeight->setRange(0, 10000);
    trackSensorHeight->setPageStep(10);
    trackSensorHeight->setSingleStep(1);
    trackSensorHeight->setTickInterval(250);
    trackSensorHeight->setTickPosition(QSlider::TicksBothSides);
    // Position 0 at the top: the height is Max - Position and grows downwards.
    trackSensorHeight->setInvertedAppearance(true);
    trackSensorHeight->setInvertedControls(true);
    trackSensorHeight->setValue(5555);

    textSensorHeight = placedLabel(QStringLiteral("10.000m"), p, 24, 266, true);
    textSensorHeight->setMinimumWidth(120);
    textSerial = placedLabel(QStringLiteral("00000"), p, 134, 4, true);
    textSerial->setMinimumWidth(110);
    textSerial->hide();
    btnHeightUp = new QPushButton(QStringLiteral("+"), p);
    btnHeightUp->setGeometry(4, 20, 15, 15);
    btnHeightUp->hide();
    btnHeightDown = new QPushButton(QStringLiteral("-"), p);
    btnHeightDown->setGeometry(4, 262, 15, 15);
    btnHeightDown->hide();

    btnSetHeight = new QPushButton(QStringLiteral("S&et Sensor Height (10.000m)"), p);
    btnSetHeight->setGeometry(8, 288, 225, 25);
    cbSetMaxHeight = new QCheckBox(QStringLiteral("Set Maximum Height"), p);
    cbSetMaxHeight->setGeometry(8, 318, 225, 20);
    cbSetMaxHeight->setChecked(true);
    labelTarvelCal = placedLabel(QStringLiteral("Tarvel Calibration:"), p, 8, 346);
    textTarvelCal = placedLabel(QStringLiteral("<None>"), p, 120, 346);
    textTarvelCal->setMinimumWidth(120);
    placedLabel(QStringLiteral("Lost Echo:"), p, 8, 374);
    cbLostEcho = new QComboBox(p);
    cbLostEcho->setGeometry(80, 370, 153, 22);
    cbLostEcho->addItems({QStringLiteral("Repeat Last Value"), QStringLiteral("Use Fixed Value (mm)")});
    cbLostEcho->setCurrentIndex(0);
    editLostEchoValue = new QLineEdit(p);
    editLostEchoValue->setGeometry(80, 398, 153, 22);
    editLostEchoValue->hide();

    btnMeasure = new QPushButton(QStringLiteral("&Take Measurement"), p);
    btnMeasure->setGeometry(264, 10, 150, 25);
    cb_Continuous = new QCheckBox(QStringLiteral("Continuous"), p);
    cb_Continuous->setGeometry(424, 13, 93, 20);

    GroupBox1 = new QGroupBox(QStringLiteral("  Last Measurement  "), p);
    GroupBox1->setGeometry(264, 40, 253, 82);
    labelLast = placedLabel(QStringLiteral("Distance = "), GroupBox1, 12, 20);
    textResultHeight = placedLabel(QStringLiteral("<None>"), GroupBox1, 120, 20);
    Label4 = placedLabel(QStringLiteral("Valid Samples = "), GroupBox1, 12, 38);
    textResultSamples = placedLabel(QStringLiteral("<None>"), GroupBox1, 120, 38);
    Label6 = placedLabel(QStringLiteral("Gain = "), GroupBox1, 12, 56);
    textResultGain = placedLabel(QStringLiteral("<None>"), GroupBox1, 120, 56);
    for (QLabel *l : {textResultHeight, textResultSamples, textResultGain})
        l->setMinimumWidth(120);

    groupHistory = new QGroupBox(QStringLiteral("  Measurement History  "), p);
    groupHistory->setGeometry(264, 127, 253, 325);
    scrollGraphArea = new HistoryArea(groupHistory);
    scrollGraphArea->setGeometry(63, 51, 135, 268);
    cbHead = new QCheckBox(QStringLiteral("Water Head"), groupHistory);
    cbHead->move(8, 24);
    cbHead->setChecked(true);
    cbHead->hide();
    cbFlow = new QCheckBox(QStringLiteral("Flow"), groupHistory);
    cbFlow->move(107, 24);
    cbFlow->hide();
    btnClearGraph = new QPushButton(QStringLiteral("Clear"), groupHistory);
    btnClearGraph->setGeometry(200, 21, 49, 20);

    connect(trackSensorHeight, &QSlider::valueChanged, this, &TformMain::trackSensorHeightChange);
    connect(btnHeightUp, &QPushButton::clicked, this, &TformMain::btnHeightUpClick);
    connect(btnHeightDown, &QPushButton::clicked, this, &TformMain::btnHeightDownClick);
    connect(cbSetMaxHeight, &QCheckBox::toggled, this, &TformMain::cbSetMaxHeightClick);
    // Only a user's pick runs the handler; ShowLostEcho sets the index itself.
    connect(cbLostEcho, &QComboBox::activated, this, [this] { cbLostEchoChange(); });
    connect(editLostEchoValue, &QLineEdit::textChanged, this, &TformMain::editLostEchoValueChange);
    connect(btnSetHeight, &QPushButton::clicked, this, &TformMain::StartWriteConfig);
    connect(btnMeasure, &QPushButton::clicked, this, &TformMain::menuMeasureClick);
    connect(pbSensor, &PaintBox::mouseEntered, this, &TformMain::pbSensorMouseEnter);
    connect(pbSensor, &PaintBox::mouseLeft, this, &TformMain::pbSensorMouseLeave);
}
