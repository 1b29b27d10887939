// The channel description's handlers, drawings, flow graph and description files.
#include "app/Mainform.h"

#include "channel/Channeldraw.h"
#include "channel/Channelfile.h"
#include "channel/Flow.h"
#include "channel/Flowgraph.h"
#include "channel/Flowtable.h"
#include "exchange/Setupcontrols.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace {

ChannelDimensions dimensionsOf(const TformMain &w)
{
    ChannelDimensions d;
    d.notchAngle = w.notchAngle;
    d.crestHeight = w.crestHeight;
    d.channelWidth = w.channelWidth;
    d.notchWidth = w.notchWidth;
    return d;
}

void showGroup(std::initializer_list<QWidget *> widgets, bool show)
{
    for (QWidget *w : widgets)
        w->setVisible(show);
}

// Sets the track bar's range and position without running its change handler. The
// minimum goes first and each limit is taken only when it fits the other, so that
// switching between degrees and millimetres works both ways.
void setTrackRange(QSlider *bar, int minimum, int maximum, int position, int page)
{
    const QSignalBlocker quiet(bar);
    if (minimum <= bar->maximum())
        bar->setMinimum(minimum);
    if (maximum >= bar->minimum())
        bar->setMaximum(maximum);
    bar->setPageStep(page);
    bar->setSingleStep(1);
    bar->setValue(std::clamp(position, bar->minimum(), bar->maximum()));
}

} // namespace

qint32 TformMain::channelType() const
{
    return cbChanType->currentIndex();
}

ChannelDimensions TformMain::dimensionsShown() const
{
    return ChannelDimensions{notchAngle, crestHeight, channelWidth, notchWidth};
}

double TformMain::FlowForHead(qint32 head) const
{
    return ::FlowForHead(channelType(), dimensionsOf(*this), head);
}

void TformMain::markChannelChanged(bool changed)
{
    channelChanged = changed;
    setCaptionColour(btnSendChannelData, changed ? QColor(255, 0, 0) : QColor(0, 0, 0));
}

void TformMain::cbChanTypeClick()
{
    // Also for a type selected with the list's signals held back (a description file):
    // whoever selects a type, the page ends as if it had been picked by hand.
    ShowChannelControls();
    pbChannel->update();
    pbFlowGraph->update();
    markChannelChanged(true);
}

void TformMain::setChannelEditText(QLineEdit *edit, const QString &text)
{
    {
        const QSignalBlocker quiet(edit);
        edit->setText(text);
    }
    editChanWidthChange(edit);
}

void TformMain::editChanWidthChange(QObject *sender)
{
    qint32 *field = nullptr;
    if (sender == editNotchWidth)
        field = &notchWidth;
    else if (sender == editCrestHeight)
        field = &crestHeight;
    else if (sender == editChanWidth)
        field = &channelWidth;
    else
        return;
    *field = MillimetresFromText(static_cast<QLineEdit *>(sender)->text());
    pbFlowGraph->update();
    // The notch is judged against the channel width only once the width is finished
    // (editChanWidthExit): typing 1.8 passes through 1, which must not cost the notch.
    markChannelChanged(true);
}

void TformMain::editChanWidthExit(QObject *sender)
{
    if (sender == editChanWidth) {
        ApplyNotchWidthRule();
        ShowChannelControls(); // the notch track bar spans the finished width
    }
}

void TformMain::ApplyNotchWidthRule()
{
    if (channelType() != ctConstrictedWeir || channelWidth < 1)
        return;
    // A channel narrowed below its notch keeps a notch, half the new width.
    if (channelWidth < notchWidth) {
        notchWidth = channelWidth / 2;
        pbChannel->update();
        markChannelChanged(true);
    }
    SetupNotchWidthTrackBar();
}

void TformMain::udChanWidthChangingEx(QObject *sender, bool &, int, UpDown::Direction direction)
{
    QLineEdit *edit = nullptr;
    qint32 *field = nullptr;
    if (sender == udNotchWidth) {
        edit = editNotchWidth;
        field = &notchWidth;
    } else if (sender == udCrestHeight) {
        edit = editCrestHeight;
        field = &crestHeight;
    } else if (sender == udChanWidth) {
        edit = editChanWidth;
        field = &channelWidth;
    } else {
        return;
    }
    // 50 mm steps within 50 mm to 10 m; a typed value outside that comes back inside.
    if (direction == UpDown::Up)
        *field = qint32(std::min<qint64>(qint64(*field) + 50, 10000));
    else
        *field = qint32(std::max<qint64>(qint64(*field) - 50, 50));
    setChannelEditText(edit, MetresText(*field));
    // A step of the arrows is a finished entry.
    editChanWidthExit(edit);
}

void TformMain::tbNotchDataChange()
{
    const qint32 type = channelType();
    if (type == ctVNotchWeir)
        notchAngle = tbNotchData->value();
    else if (type == ctConstrictedWeir)
        notchWidth = tbNotchData->value();
    else
        return;
    ShowChannelControls(); // the notch read-out
    pbChannel->update();
    pbFlowGraph->update();
    markChannelChanged(true);
}

void TformMain::btnChanIncClick()
{
    {
        const QSignalBlocker quiet(tbNotchData);
        tbNotchData->setValue(std::min(tbNotchData->value() + 1, tbNotchData->maximum()));
    }
    tbNotchDataChange();
}

void TformMain::btnChanDecClick()
{
    {
        const QSignalBlocker quiet(tbNotchData);
        tbNotchData->setValue(std::max(tbNotchData->value() - 1, tbNotchData->minimum()));
    }
    tbNotchDataChange();
}

// ---------------------------------------------------------------- channel picture

void TformMain::ShowNotchTrackBar(bool show)
{
    showGroup({labelNotchAngle, tbNotchData, btnChanInc, btnChanDec}, show);
}

void TformMain::ShowNotchWidthEdit(bool show)
{
    showGroup({labelNotchAngle, editNotchWidth, udNotchWidth, labelNotchUnits, btnChanInc, btnChanDec}, show);
}

void TformMain::ShowChannelWidthControls(bool show)
{
    showGroup({labelChanWidth, editChanWidth, udChanWidth, labelChanWidthUnits, labelWidth, shapeWidthH,
               shapeWidthL, shapeWidthR},
              show);
}

void TformMain::ShowCrestHeightControls(bool show)
{
    showGroup({labelCrestHeight, editCrestHeight, udCrestHeight, lableCrestHeightUnits}, show);
}

void TformMain::ShowChannelSensorImage(bool show)
{
    showGroup({shapeEchoGauge5, shapeEchoGauge6, shapeEchoGauge7, shapeEchoGauge8}, show);
}

void TformMain::ShowSensorHeightControls(bool show)
{
    showGroup({trackSensorHeight, textSensorHeight, btnSetHeight, shapeBar, shapeVert, shapeBtm, labelH,
               btnHeightUp, btnHeightDown, cbSetMaxHeight},
              show);
}

void TformMain::SetupNotchWidthTrackBar()
{
    // A channel narrower than the usual 150 mm smallest notch still gets a notch:
    // the track bar then starts at 1 mm. Without any width there is nothing to set.
    int minimum = 150;
    if (channelWidth < minimum && channelWidth >= 1)
        minimum = 1;
    setTrackRange(tbNotchData, minimum, channelWidth, notchWidth, 50);
    const bool usable = channelWidth >= 1;
    tbNotchData->setEnabled(usable);
    btnChanInc->setEnabled(usable);
    btnChanDec->setEnabled(usable);
}

void TformMain::SetupNotchAngleTrackBar()
{
    setTrackRange(tbNotchData, 15, 150, notchAngle, 5);
    tbNotchData->setEnabled(true);
    btnChanInc->setEnabled(true);
    btnChanDec->setEnabled(true);
}

// The controls and captions that go with the channel type and its dimensions, and
// the sensor picture placed by its height. Run where those change, never from a paint:
// the sensor drawing is repainted many times a second under the sound-wave animation.
void TformMain::ShowChannelControls()
{
    const qint32 type = channelType();
    const bool weir = HasFlowTable(type);
    textTarvelCal->setText(weir ? CalibrationText(flowExponent) : QStringLiteral("0.001 (m)"));
    switch (type) {
    case ctMeasureDepth:
        ShowNotchTrackBar(false);
        ShowNotchWidthEdit(false);
        ShowChannelWidthControls(false);
        ShowCrestHeightControls(false);
        ShowChannelSensorImage(true);
        ShowSensorHeightControls(true);
        break;
    case ctRectangularWeir:
        ShowNotchTrackBar(false);
        ShowNotchWidthEdit(false);
        ShowChannelWidthControls(true);
        ShowCrestHeightControls(true);
        ShowChannelSensorImage(false);
        ShowSensorHeightControls(true);
        break;
    case ctConstrictedWeir:
        SetupNotchWidthTrackBar();
        ShowNotchWidthEdit(false);
        ShowNotchTrackBar(true);
        ShowChannelWidthControls(true);
        ShowCrestHeightControls(true);
        ShowChannelSensorImage(false);
        ShowSensorHeightControls(true);
        labelNotchAngle->setText(NotchWidthCaption(notchWidth));
        break;
    case ctVNotchWeir:
        SetupNotchAngleTrackBar();
        ShowNotchWidthEdit(false);
        ShowChannelWidthControls(false);
        ShowCrestHeightControls(false);
        ShowNotchTrackBar(true);
        ShowChannelSensorImage(false);
        ShowSensorHeightControls(true);
        labelNotchAngle->setText(QStringLiteral("Notch Angle = ") + NotchAngleText(notchAngle));
        break;
    default: {
        // No selection, or a type the sensor reported that the list does not have.
        const QSignalBlocker quiet(cbChanType);
        cbChanType->setCurrentIndex(ctMeasureDistance);
        ShowNotchTrackBar(false);
        ShowNotchWidthEdit(false);
        ShowChannelWidthControls(false);
        ShowCrestHeightControls(false);
        ShowChannelSensorImage(true);
        ShowSensorHeightControls(false);
        break;
    }
    }
    updateSiteRecordActions(); // the flow-table items go with the types that have a table
    UpdateSensorHeightDisplay();
}

void TformMain::pbChannelPaint(PaintBox *sender, QPainter &canvas)
{
    canvas.setFont(sender->font());
    canvas.setRenderHint(QPainter::Antialiasing, false);
    switch (channelType()) {
    case ctMeasureDepth:
        DrawDepthChannel(sender, canvas);
        break;
    case ctRectangularWeir:
        DrawRectangularWeir(sender, canvas);
        break;
    case ctConstrictedWeir:
        DrawConstrictedWeir(sender, canvas);
        break;
    case ctVNotchWeir:
        DrawVNotchWeir(sender, canvas);
        break;
    default:
        DrawDistanceChannel(sender, canvas);
        break;
    }
}

void TformMain::DrawDistanceChannel(PaintBox *box, QPainter &canvas)
{
    DrawDistancePicture(canvas, box->width(), box->height(), box == pbChannel);
}

void TformMain::DrawDepthChannel(PaintBox *box, QPainter &canvas)
{
    DrawDepthPicture(canvas, box->width(), box->height(), box == pbChannel);
}

void TformMain::DrawRectangularWeir(PaintBox *box, QPainter &canvas)
{
    DrawRectangularPicture(canvas, box->width(), box->height(), box == pbChannel);
}

void TformMain::DrawConstrictedWeir(PaintBox *box, QPainter &canvas)
{
    DrawConstrictedPicture(canvas, box->width(), box->height(), pbChannel->width(), notchWidth, channelWidth,
                           box == pbChannel);
}

void TformMain::DrawVNotchWeir(PaintBox *box, QPainter &canvas)
{
    DrawVNotchPicture(canvas, box->width(), box->height(), notchAngle, box == pbChannel);
}

// ---------------------------------------------------------------- flow graph

void TformMain::pbFlowGraphPaint(PaintBox *box, QPainter &canvas)
{
    DrawFlowGraph(box, canvas);
}

void TformMain::DrawFlowGraph(PaintBox *box, QPainter &canvas)
{
    canvas.setFont(box->font());
    canvas.setRenderHint(QPainter::Antialiasing, false);
    const FlowGraphResult drawn =
        DrawFlowGraphPicture(canvas, box->width(), box->height(), channelType(), dimensionsOf(*this));
    if (drawn.scaledX)
        flowScaleX = drawn.flowScaleX;
    if (drawn.scaledY)
        flowScaleY = drawn.flowScaleY;
    // The history graph can show flow only for a channel that gives one.
    const double qmax = FlowForHead(5000);
    if (qmax >= 0 && std::isfinite(qmax)) {
        cbHead->setEnabled(true);
        cbFlow->setEnabled(true);
    } else {
        cbHead->setChecked(true);
        cbHead->setEnabled(false);
        cbFlow->setChecked(false);
        cbFlow->setEnabled(false);
    }
}

void TformMain::pbFlowGraphMouseMove(int x, int y)
{
    // The read-out follows the red curve: test the pixel of the graph as drawn now.
    const QImage image = pbFlowGraph->render();
    const bool onCurve =
        image.rect().contains(x, y) && flowScaleX > 0 && image.pixel(x, y) == qRgb(255, 0, 0);
    if (!onCurve) {
        pbFlowGraph->setToolTip(QString());
        QToolTip::hideText();
        return;
    }
    const qint32 head = TruncToInt((x - 48) / double(flowScaleX));
    const float flow = float(FlowForHead(head));
    const QString hint = FlowHintText(head, flow);
    pbFlowGraph->setToolTip(hint);
    QToolTip::showText(pbFlowGraph->mapToGlobal(QPoint(x, y)), hint, pbFlowGraph);
}

// ---------------------------------------------------------------- description files

void TformMain::menuLoadChannelClick()
{
    QString path = platform.dialogs->openFileName(this, QString(), QString::fromLatin1(channelFileFilter));
    if (path.isEmpty())
        return;
    // A name typed without its extension means the description file of that name.
    if (QFileInfo(path).suffix().isEmpty() && !QFileInfo::exists(path) && QFileInfo::exists(path + ".cdf"))
        path += QStringLiteral(".cdf");
    ChannelFileContent content;
    if (ReadChannelFile(path, content) != ChannelFileResult::Ok) {
        // Leave the description as it is rather than replace it with defaults.
        platform.dialogs->message(this, QStringLiteral("Unable to read %1").arg(path), Dialogs::Icon::Error);
        return;
    }
    notchAngle = content.dims.notchAngle;
    crestHeight = content.dims.crestHeight;
    channelWidth = content.dims.channelWidth;
    notchWidth = content.dims.notchWidth;
    setChannelEditText(editCrestHeight, MetresText(crestHeight));
    setChannelEditText(editChanWidth, MetresText(channelWidth));
    setChannelEditText(editNotchWidth, MetresText(notchWidth));
    {
        const QSignalBlocker quiet(cbChanType);
        cbChanType->setCurrentIndex(content.type);
    }
    // The file's type and dimensions together, not the type shown before, decide
    // whether its notch fits its channel.
    ApplyNotchWidthRule();
    cbChanTypeClick();
}

void TformMain::menuSaveChannelClick()
{
    const QString path =
        platform.dialogs->saveFileName(this, QStringLiteral("Save Channel Description"),
                                       QString::fromLatin1(channelFileFilter), QStringLiteral("cdf"));
    if (path.isEmpty())
        return;
    ChannelFileContent content;
    content.type = std::max(channelType(), qint32(ctMeasureDistance));
    content.dims = dimensionsOf(*this);
    if (WriteChannelFile(path, content) != ChannelFileResult::Ok)
        platform.dialogs->message(this, QStringLiteral("Unable to write to %1").arg(path),
                                  Dialogs::Icon::Error);
}
