// The sensor set-up controls: the height slider and its drawing, the lost-echo choice,
// and the changed mark on the button that writes the set-up.
#include "exchange/Setupcontrols.h"
#include "app/Distance.h"
#include "app/Mainform.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

void setCaptionColour(QPushButton *button, const QColor &colour)
{
    // Only the live groups: a disabled button keeps the style's greyed caption, so
    // that it does not look as if a click would do something.
    QPalette pal = button->palette();
    pal.setColor(QPalette::Active, QPalette::ButtonText, colour);
    pal.setColor(QPalette::Inactive, QPalette::ButtonText, colour);
    button->setPalette(pal);
}

QColor captionColour(const QPushButton *button)
{
    return button->palette().color(QPalette::Active, QPalette::ButtonText);
}

int TrackThumbRow(int barTop, int barHeight, int position, int maximum)
{
    const float fraction = maximum > 0 ? float(position) / float(maximum) : 0.0f;
    return qint32(float(barHeight - 26) * fraction) + barTop + 13;
}

int TformMain::TrackThumbY(QSlider *bar) const
{
    return TrackThumbRow(bar->y(), bar->height(), bar->value(), bar->maximum());
}

void TformMain::ShowLostEcho()
{
    const bool fixed = quint32(lostEchoValue) != 0xFFFFu;
    cbLostEcho->setCurrentIndex(fixed ? 1 : 0);
    editLostEchoValue->setVisible(fixed);
    editLostEchoValue->setText(QString::number(qint16(lostEchoValue)));
}

void TformMain::UpdateSensorHeightDisplay()
{
    const int max = trackSensorHeight->maximum();
    const int h = max - trackSensorHeight->value();
    const QString t = FormatDistance(h, menuMetric->isChecked());
    textSensorHeight->setText(t);
    btnSetHeight->setText(QStringLiteral("&Set Sensor Height (") + t + QLatin1Char(')'));

    const int y = TrackThumbY(trackSensorHeight);
    // Measuring depth, the dimension reaches the channel bed; otherwise it is the
    // height scaled to the drawing.
    const int g = channelType() == 1 ? 250 - y : (max > 0 ? (149 * h + max / 2) / max : 0);

    shapeBtm->move(shapeBtm->x(), y + g);
    shapeBar->move(shapeBar->x(), y);
    shapeVert->setGeometry(shapeVert->x(), y, shapeVert->geometry().width(), shapeBtm->y() - y);
    labelH->move(labelH->x(), shapeVert->y() + shapeVert->height() / 2 - labelH->height() / 2);

    shapeEchoGauge1->move(shapeEchoGauge1->x(), y - shapeEchoGauge1->height());
    shapeEchoGauge2->move(shapeEchoGauge2->x(), shapeEchoGauge1->y() - shapeEchoGauge2->height());
    shapeEchoGauge3->move(shapeEchoGauge3->x(), shapeEchoGauge2->y() - shapeEchoGauge3->height());
    shapeEchoGauge4->move(shapeEchoGauge4->x(), shapeEchoGauge3->y() - shapeEchoGauge4->height());
    textSerial->move(textSerial->x(), shapeEchoGauge4->y() - 16);

    pbSensor->setGeometry(pbSensor->x(), shapeVert->y(), pbSensor->width(), 250 - y);
    const int wallHeight = qint32(float(pbSensor->height()) * 0.9f);
    const int wallTop = pbSensor->y() + pbSensor->height() - wallHeight;
    shapeWallLeft->setGeometry(shapeWallLeft->x(), wallTop, shapeWallLeft->geometry().width(), wallHeight);
    shapeWallRight->setGeometry(shapeWallRight->x(), wallTop, shapeWallRight->geometry().width(), wallHeight);

    setCaptionColour(btnSetHeight, setupChanged ? winColor(255) : winColor(0));
}

void TformMain::trackSensorHeightChange()
{
    setupChanged = true;
    UpdateSensorHeightDisplay();
}

void TformMain::btnHeightUpClick()
{
    trackSensorHeight->setValue(std::max(trackSensorHeight->value() - 1, trackSensorHeight->minimum()));
    trackSensorHeightChange();
}

void TformMain::btnHeightDownClick()
{
    trackSensorHeight->setValue(std::min(trackSensorHeight->value() + 1, trackSensorHeight->maximum()));
    trackSensorHeightChange();
}

void TformMain::cbSetMaxHeightClick()
{
    setupChanged = true;
    UpdateSensorHeightDisplay();
}

void TformMain::cbLostEchoChange()
{
    editLostEchoValue->setVisible(cbLostEcho->currentIndex() == 1);
    editLostEchoValue->clear();
    setupChanged = true;
    UpdateSensorHeightDisplay();
}

void TformMain::editLostEchoValueChange()
{
    setupChanged = true;
    UpdateSensorHeightDisplay();
}
