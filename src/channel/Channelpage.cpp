// The Channel Description page's controls. Placement is still to be done.
#include "app/Mainform.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

void TformMain::buildChannelPage()
{
    QWidget *p = tabChannel;
    cbChanType = new QComboBox(p);
    pbChannel = new PaintBox(p);
    shapeEchoGauge5 = new Shape(Shape::Rectangle, p);
    shapeEchoGauge6 = new Shape(Shape::Rectangle, p);
    shapeEchoGauge7 = new Shape(Shape::Rectangle, p);
    shapeEchoGauge8 = new Shape(Shape::Rectangle, p);
    tbNotchData = new QSlider(Qt::Horizontal, p);
    editNotchWidth = new QLineEdit(p);
    udNotchWidth = new UpDown(p);
    editCrestHeight = new QLineEdit(p);
    udCrestHeight = new UpDown(p);
    editChanWidth = new QLineEdit(p);
    udChanWidth = new UpDown(p);
    btnChanDec = new QPushButton(QStringLiteral("-"), p);
    btnChanInc = new QPushButton(QStringLiteral("+"), p);
    btnSendChannelData = new QPushButton(QStringLiteral("Send Channel Data to EchoGauge"), p);
    pbFlowGraph = new PaintBox(p);
}
