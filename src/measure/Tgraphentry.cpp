// The measurement history graph: every completed measurement becomes a bar of its
// value (and one of its flow), with the sample counts and gain under it, on axes that
// grow when a reading does not fit.
#include "measure/Tgraphentry.h"

#include "app/Mainform.h"
#include "channel/Flow.h"
#include "measure/Historyview.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScrollBar>

#include <algorithm>
#include <cmath>
#include <new>

namespace {

const QString cubicMetres = QStringLiteral("m\u00B3/s");

// Whole numbers in a picture such as "###0": truncation would show 12.5 as 12.
QString wholeNumber(double value)
{
    return QString::number(value, 'f', 0);
}

} // namespace

// ------------------------------------------------------------------------ plain data

void THistory::append(const TGraphEntry &entry)
{
    if (size() >= historyCapacity)
        entries.pop_front();
    entries.push_back(entry);
    maxValue = std::max(maxValue, entry.value);
    if (entry.flow > maxFlow) // also keeps a NaN out
        maxFlow = entry.flow;
}

void THistory::clear()
{
    std::deque<TGraphEntry>().swap(entries); // gives the memory back
    maxValue = 0;
    maxFlow = 0;
}

HistoryPlacement PlaceHistoryEntry(const TGraphEntry &entry, qint64 index, qint64 scrollX,
                                   const HistoryScales &scales)
{
    HistoryPlacement out;
    int x = int(index * historySlotWidth - scrollX);
    const int barWidth = (scales.showHead && scales.showFlow) ? 17 : 33;
    out.gainLabel = QRect(x, scales.gainRowTop, historySlotWidth, historyRowHeight);
    out.samplesLabel = QRect(x, scales.samplesRowTop, historySlotWidth, historyRowHeight);
    if (scales.showHead) {
        const int h = std::max(TruncToInt(double(entry.value) * double(scales.headScale)), 0);
        out.headBar = QRect(x, scales.barBaseline - h, barWidth, h);
        x += 16;
    }
    if (scales.showFlow) {
        const int h = std::max(TruncToInt(double(entry.flow) * double(scales.flowScale)), 0);
        out.flowBar = QRect(x, scales.barBaseline - h, barWidth, h);
    }
    return out;
}

QString OneOptionalDecimal(double value)
{
    QString text = QString::number(value, 'f', 1);
    if (text.endsWith(QLatin1String(".0")))
        text.chop(2);
    return text == QLatin1String("-0") ? QStringLiteral("0") : text;
}

QString HeadAxisTitle(qint32 channelType)
{
    switch (channelType) {
    case ctMeasureDistance:
        return QStringLiteral("D i s t");
    case ctMeasureDepth:
        return QStringLiteral("D e p t h");
    default:
        return QStringLiteral("F l o w");
    }
}

QString HeadAxisCaption(qint32 units, qint32 channelType, qint32 flowExponent, bool decideUnit,
                        bool *useCubicMetres)
{
    if (channelType == ctMeasureDistance || channelType == ctMeasureDepth)
        return OneOptionalDecimal(units * 0.001) + QStringLiteral("m -");
    const float f = float(units * 0.1 / std::pow(10.0, flowExponent));
    bool cubic = useCubicMetres ? *useCubicMetres : true;
    if (decideUnit) {
        cubic = f >= 0.1f;
        if (useCubicMetres)
            *useCubicMetres = cubic;
    }
    if (cubic)
        return FormatFixed(f, 1) + cubicMetres + QStringLiteral(" -");
    return FormatFixed(double(f) * 1000.0, 1) + QStringLiteral("l/s -");
}

QString FlowAxisCaption(float flow, bool useCubicMetres)
{
    if (useCubicMetres)
        return QStringLiteral("- ") + FormatFixed(flow, 1) + cubicMetres;
    return QStringLiteral("- ") + FormatFixed(double(flow) * 1000.0, 1) + QStringLiteral("l/s");
}

QString FlowTickCaption(float flow, bool useCubicMetres)
{
    if (useCubicMetres)
        return QStringLiteral("- ") + wholeNumber(flow) + cubicMetres;
    return QStringLiteral("- ") + wholeNumber(double(flow) * 1000.0) + QStringLiteral("l/s");
}

QString HeadBarHint(const TGraphEntry &entry)
{
    switch (entry.channelType) {
    case ctMeasureDistance:
        return QStringLiteral("Dist = ") + FormatFixed(entry.value * 0.001, 3) + QStringLiteral("m");
    case ctMeasureDepth:
        return QStringLiteral("Depth = ") + FormatFixed(entry.value * 0.001, 3) + QStringLiteral("m");
    default:
        if (entry.flow >= 0.1f)
            return QStringLiteral("Flow = ") + FormatFixed(entry.flow, 1) + QStringLiteral(" ") + cubicMetres;
        return QStringLiteral("Flow = ") + FormatFixed(double(entry.flow) * 1000.0, 1) +
               QStringLiteral(" l/s");
    }
}

QString FlowBarHint(const TGraphEntry &entry)
{
    return QStringLiteral("Flow=") + FormatFixed(entry.headFlow, 3) + QStringLiteral(" ") + cubicMetres;
}

// ------------------------------------------------------------------------ the window's graph

namespace {

const QSize historyDesignSize(253, 325);
// The graph area's distances to the group's right and bottom edges as designed
// (63, 51, 135 x 268 in a group of 253 x 325).
constexpr int areaRightMargin = 253 - (63 + 135);
constexpr int areaBottomMargin = 325 - (51 + 268);
// The sensor page as the form was laid out; the group keeps its margins to its edges.
const QSize sensorPageDesignSize(534, 474);

// An axis title: the spaced caption wraps into a column one letter wide, so the
// column's width is all it asks for.
class AxisTitle : public QLabel
{
public:
    using QLabel::QLabel;
    QSize sizeHint() const override { return QSize(width(), heightForWidth(width())); }
    QSize minimumSizeHint() const override { return sizeHint(); }
};

QLabel *axisLabel(const QString &text, QWidget *parent, int left, int top, Qt::Alignment align)
{
    QLabel *l = align == Qt::AlignHCenter ? new AxisTitle(text, parent) : new QLabel(text, parent);
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(11);
    l->setFont(f);
    l->setAlignment(align | Qt::AlignTop);
    l->move(left, top);
    l->adjustSize();
    return l;
}

// The group follows the page's edges, and inside it each control keeps its distance
// to the edges it is anchored to.
class HistoryAnchors : public QObject
{
public:
    HistoryAnchors(TformMain *form) : QObject(form), form(form) {}

    QList<QWidget *> right;  // keep their distance to the right edge
    QList<QWidget *> bottom; // keep their distance to the bottom edge

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Resize)
            return false;
        if (watched == form->tabSensor) {
            const QSize page = form->tabSensor->size();
            form->groupHistory->setGeometry(
                264, 127,
                std::max(page.width() - sensorPageDesignSize.width() + historyDesignSize.width(), 1),
                std::max(page.height() - sensorPageDesignSize.height() + historyDesignSize.height(), 1));
        } else if (watched == form->groupHistory) {
            const QSize now = form->groupHistory->size();
            const int dw = now.width() - last.width();
            const int dh = now.height() - last.height();
            last = now;
            for (QWidget *w : right)
                w->move(w->x() + dw, w->y());
            for (QWidget *w : bottom)
                w->move(w->x(), w->y() + dh);
            // The area is measured from the group as it is now, never by adding up
            // changes: a group first laid out at 0 x 0 would clamp the area and leave it
            // too tall by the difference, its scroll bar below the group's edge. The
            // layout that its resize runs then sets its left edge and width exactly.
            QWidget *area = form->scrollGraphArea;
            area->resize(std::max(now.width() - areaRightMargin - area->x(), 1),
                         std::max(now.height() - areaBottomMargin - area->y(), 1));
        }
        return false;
    }

private:
    TformMain *form;
    QSize last = historyDesignSize;
};

} // namespace

void TformMain::buildHistoryGraph()
{
    QWidget *g = groupHistory;
    historyEntries = new THistory;
    auto *area = static_cast<HistoryArea *>(scrollGraphArea);

    labelHead = axisLabel(QStringLiteral("F l o w"), g, 4, 51, Qt::AlignHCenter);
    labelHead->setWordWrap(true);
    labelHead->setGeometry(4, 51, 10, 62);
    labelMaxHead = axisLabel(QStringLiteral("1000 -"), g, 15, 51, Qt::AlignRight);
    label3Head = axisLabel(QStringLiteral("750 -"), g, 26, 67, Qt::AlignRight);
    label2Head = axisLabel(QStringLiteral("500 -"), g, 26, 87, Qt::AlignRight);
    label1Head = axisLabel(QStringLiteral("250 -"), g, 26, 107, Qt::AlignRight);
    labelZeroHead = axisLabel(QStringLiteral("0 -"), g, 15, 255, Qt::AlignRight);
    labelValidHead = axisLabel(QStringLiteral("Valid"), g, 5, 271, Qt::AlignLeft);
    labelGainHead = axisLabel(QStringLiteral("Gain"), g, 4, 285, Qt::AlignLeft);
    labelFlow = axisLabel(QStringLiteral("F l o w"), g, 239, 51, Qt::AlignHCenter);
    labelFlow->setWordWrap(true);
    labelFlow->setGeometry(239, 51, 10, 54);
    labelMaxFlow = axisLabel(QStringLiteral("- 1000"), g, 202, 51, Qt::AlignLeft);
    label3Flow = axisLabel(QStringLiteral("- 750"), g, 204, 71, Qt::AlignLeft);
    label2Flow = axisLabel(QStringLiteral("- 500"), g, 202, 91, Qt::AlignLeft);
    label1Flow = axisLabel(QStringLiteral("- 250"), g, 204, 111, Qt::AlignLeft);
    labelZeroFlow = axisLabel(QStringLiteral("- 0"), g, 211, 255, Qt::AlignLeft);
    labelValidFlow = axisLabel(QStringLiteral("Valid"), g, 206, 271, Qt::AlignLeft);
    labelGainFlow = axisLabel(QStringLiteral("Gain"), g, 206, 285, Qt::AlignLeft);
    area->raise();
    btnClearGraph->raise();

    auto *anchors = new HistoryAnchors(this);
    anchors->right = {labelFlow,  labelMaxFlow,  label3Flow,   label2Flow,
                      label1Flow, labelZeroFlow, btnClearGraph};
    anchors->bottom = {labelZeroHead, labelValidHead, labelGainHead,
                       labelZeroFlow, labelValidFlow, labelGainFlow};
    tabSensor->installEventFilter(anchors);
    groupHistory->installEventFilter(anchors);

    area->setStepWidth(historySlotWidth);
    area->onPaint = [this](QPainter &p, const QRect &exposed) { paintHistory(p, exposed); };
    area->onHint = [this](const QPoint &at) { return historyHintAt(at); };
    area->onResize = [this] { scrollGraphAreaResize(); };

    connect(btnClearGraph, &QPushButton::clicked, this, &TformMain::btnClearGraphClick);
    // A change of the ticked state runs the handler also when the window sets it.
    connect(cbHead, &QCheckBox::toggled, this, &TformMain::cbHeadClick);
    connect(cbFlow, &QCheckBox::toggled, this, &TformMain::cbFlowClick);
}

HistoryScales TformMain::historyScales() const
{
    HistoryScales s;
    s.headScale = headScale;
    s.flowScale = flowScale;
    s.barBaseline = barBaseline;
    s.gainRowTop = gainRowTop;
    s.samplesRowTop = samplesRowTop;
    s.showHead = cbHead->isChecked();
    s.showFlow = cbFlow->isChecked();
    return s;
}

void TformMain::AddHistoryEntry(qint32 value, float flow, float headFlow, qint8 validSamples, qint8 samples,
                                qint8 gain)
{
    const qint32 type = channelType();
    const TGraphEntry entry{value,   flow, headFlow,    validSamples,
                            samples, gain, qint8(type), QDateTime::currentMSecsSinceEpoch()};
    labelHead->setText(HeadAxisTitle(type));
    try {
        historyEntries->append(entry);
    } catch (const std::bad_alloc &) {
        return; // the reading stays shown in the Last Measurement group
    }

    auto *area = static_cast<HistoryArea *>(scrollGraphArea);
    // Only a shown axis can be exceeded: an axis that is not shown is not kept up to date.
    const bool exceeds =
        (cbHead->isChecked() && value > headAxisMax) || (cbFlow->isChecked() && flow > float(flowAxisMax));
    if (exceeds) {
        LayoutHistoryGraph();
    } else {
        const qint64 index = historyEntries->size() - 1;
        area->setContentWidth(historyContentWidth());
        const HistoryPlacement at = PlaceHistoryEntry(entry, index, area->scrollX(), historyScales());
        area->viewport()->update(at.headBar.united(at.flowBar).united(at.gainLabel).united(at.samplesLabel));
    }
    // The newest entry comes wholly into view, also when the user had scrolled back
    // to older ones.
    QScrollBar *bar = area->horizontalScrollBar();
    bar->setValue(bar->maximum());
}

qint64 TformMain::historyContentWidth() const
{
    // The last bar is one pixel wider than its slot.
    return historyEntries->isEmpty() ? 0 : historyEntries->size() * historySlotWidth + 1;
}

void TformMain::LayoutHistoryGraph()
{
    // Moving the graph area below resizes it, and a resize lays the graph out again.
    if (historyLayoutRunning)
        return;
    const QScopedValueRollback<bool> running(historyLayoutRunning, true);
    ++historyLayouts;

    int leftEdge = 4;
    int rightEdge = groupHistory->width() - 4;
    bool useCubicMetres = true;
    const bool head = cbHead->isChecked();
    const bool flow = cbFlow->isChecked();
    const bool any = !historyEntries->isEmpty();
    const qint32 type = channelType();

    labelHead->setVisible(head);
    labelMaxHead->setVisible(head && any);
    for (QLabel *l : {labelZeroHead, labelValidHead, labelGainHead})
        l->setVisible(head);
    for (QLabel *l : {label1Head, label2Head, label3Head})
        l->setVisible(head && any);
    labelFlow->setVisible(flow);
    labelMaxFlow->setVisible(flow && any);
    for (QLabel *l : {labelZeroFlow, labelValidFlow, labelGainFlow})
        l->setVisible(flow);
    for (QLabel *l : {label1Flow, label2Flow, label3Flow})
        l->setVisible(flow && any);

    const int T = scrollGraphArea->y();
    if (head) {
        headAxisMax = FlowAxisMaximum(float(historyEntries->largestValue()), 4);
        labelMaxHead->setText(HeadAxisCaption(headAxisMax, type, flowExponent, true, &useCubicMetres));
        labelMaxHead->adjustSize();
        labelMaxHead->move(labelMaxHead->x(), T);
        const int axisX = labelHead->x() + labelHead->width() +
                          std::max(labelValidHead->width(), labelMaxHead->width()) + 4;
        labelMaxHead->move(axisX - labelMaxHead->width(), T);
        labelZeroHead->move(axisX - labelZeroHead->width(), labelZeroHead->y());
        labelValidHead->move(axisX - 4 - labelValidHead->width(), labelValidHead->y());
        labelGainHead->move(axisX - 4 - labelGainHead->width(), labelGainHead->y());

        QPalette pal = labelHead->palette();
        pal.setColor(QPalette::WindowText, winColor(0x808000));
        labelHead->setPalette(pal);
        const int top = labelMaxHead->y() + labelMaxHead->height() / 2;
        labelHead->setGeometry(labelHead->x(), top, labelHead->width(),
                               std::max(labelZeroHead->y() + labelZeroHead->height() / 2 - top, 0));

        headScale = float(labelHead->height()) / float(headAxisMax);
        leftEdge = axisX;

        const qint32 step = headAxisMax / 4;
        const int pixelStep = (labelZeroHead->y() - labelMaxHead->y()) / 4;
        QLabel *const ticks[3] = {label1Head, label2Head, label3Head};
        for (int k = 1; k <= 3; ++k) {
            QLabel *l = ticks[k - 1];
            l->setText(HeadAxisCaption(k * step, type, flowExponent, false, &useCubicMetres));
            l->adjustSize();
            l->move(axisX - l->width(), labelZeroHead->y() - k * pixelStep);
        }
    }

    if (flow) {
        flowAxisMax = FlowAxisMaximum(historyEntries->largestFlow(), 4);
        labelMaxFlow->setText(FlowAxisCaption(float(flowAxisMax), useCubicMetres));
        labelMaxFlow->adjustSize();
        const int axisXR = labelFlow->x() - std::max(labelValidFlow->width(), labelMaxFlow->width()) - 4;
        labelMaxFlow->move(axisXR, T);
        labelZeroFlow->move(axisXR, labelZeroFlow->y());
        labelValidFlow->move(axisXR + 4, labelValidFlow->y());
        labelGainFlow->move(axisXR + 4, labelGainFlow->y());

        QPalette pal = labelFlow->palette();
        pal.setColor(QPalette::WindowText, winColor(0x000080));
        labelFlow->setPalette(pal);
        const int top = labelMaxFlow->y() + labelMaxFlow->height() / 2;
        labelFlow->setGeometry(labelFlow->x(), top, labelFlow->width(),
                               std::max(labelZeroFlow->y() + labelZeroFlow->height() / 2 - top, 0));

        flowScale = float(labelFlow->height()) / float(flowAxisMax);
        rightEdge = axisXR;

        const float step = float(flowAxisMax) * 0.25f;
        const int pixelStep = (labelZeroFlow->y() - labelMaxFlow->y()) / 4;
        QLabel *const ticks[3] = {label1Flow, label2Flow, label3Flow};
        float tick = 0;
        for (int k = 1; k <= 3; ++k) {
            tick += step;
            QLabel *l = ticks[k - 1];
            l->setText(FlowTickCaption(tick, useCubicMetres));
            l->adjustSize();
            l->move(axisXR, labelZeroFlow->y() - k * pixelStep);
        }
    }

    scrollGraphArea->setGeometry(leftEdge, T, std::max(rightEdge - leftEdge, 1), scrollGraphArea->height());

    const int b = 1; // the graph area's bevel, as the rows were measured with it
    const QLabel *title = head ? labelHead : labelFlow;
    barBaseline = title->y() + title->height() - T + b;
    gainRowTop = (head ? labelGainHead : labelGainFlow)->y() - T - b;
    samplesRowTop = (head ? labelValidHead : labelValidFlow)->y() - T - b;

    auto *area = static_cast<HistoryArea *>(scrollGraphArea);
    area->setContentWidth(historyContentWidth());
    area->viewport()->update();
}

void TformMain::paintHistory(QPainter &p, const QRect &exposed)
{
    const qint64 count = historyEntries->size();
    if (count == 0)
        return;
    auto *area = static_cast<HistoryArea *>(scrollGraphArea);
    const qint64 scroll = area->scrollX();
    // Only the entries in view are looked at; a bar reaches one pixel into the next slot.
    const qint64 first = std::max<qint64>(0, (scroll + exposed.left()) / historySlotWidth - 1);
    const qint64 last = std::min<qint64>(count - 1, (scroll + exposed.right()) / historySlotWidth + 1);
    const HistoryScales scales = historyScales();

    QFont small(QStringLiteral("Arial"));
    small.setPixelSize(11); // 8 points on the 96 dpi screen the layout was made for
    p.setFont(small);
    const QPen outline(Qt::black, 1);
    for (qint64 i = first; i <= last; ++i) {
        const TGraphEntry &e = historyEntries->at(i);
        const HistoryPlacement at = PlaceHistoryEntry(e, i, scroll, scales);
        p.setPen(outline);
        if (scales.showHead && at.headBar.height() > 0) {
            p.setBrush(winColor(0x808000));
            p.drawRect(at.headBar.adjusted(0, 0, -1, -1));
        }
        if (scales.showFlow && at.flowBar.height() > 0) {
            p.setBrush(winColor(0x000080));
            p.drawRect(at.flowBar.adjusted(0, 0, -1, -1));
        }
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(at.gainLabel, Qt::AlignHCenter | Qt::AlignTop, QString::number(e.gain));
        p.drawText(at.samplesLabel, Qt::AlignHCenter | Qt::AlignTop, SamplesText(e.validSamples, e.samples));
    }
}

QString TformMain::historyHintAt(const QPoint &at) const
{
    const qint64 count = historyEntries->size();
    if (count == 0)
        return QString();
    const qint64 scroll = static_cast<HistoryArea *>(scrollGraphArea)->scrollX();
    const qint64 slot = (scroll + at.x()) / historySlotWidth;
    const HistoryScales scales = historyScales();
    // The later entry's bars lie over the earlier one's shared outline.
    for (qint64 i = std::min(slot, count - 1); i >= std::max<qint64>(0, slot - 1); --i) {
        const TGraphEntry &e = historyEntries->at(i);
        const HistoryPlacement p = PlaceHistoryEntry(e, i, scroll, scales);
        if (scales.showFlow && p.flowBar.height() > 0 && p.flowBar.contains(at))
            return FlowBarHint(e);
        if (scales.showHead && p.headBar.height() > 0 && p.headBar.contains(at))
            return HeadBarHint(e);
    }
    return QString();
}

void TformMain::scrollGraphAreaResize()
{
    LayoutHistoryGraph();
}

void TformMain::cbHeadClick()
{
    if (!cbHead->isChecked() && !cbFlow->isChecked())
        cbFlow->setChecked(true); // one series is always shown
    LayoutHistoryGraph();
}

void TformMain::cbFlowClick()
{
    if (!cbHead->isChecked() && !cbFlow->isChecked())
        cbHead->setChecked(true);
    LayoutHistoryGraph();
}

void TformMain::btnClearGraphClick()
{
    clearHistory();
}

// Empties the graph without a layout: the axes keep their captions and scales until
// the next reading that exceeds them, and the next reading stands at the left again.
void TformMain::clearHistory()
{
    historyEntries->clear();
    auto *area = static_cast<HistoryArea *>(scrollGraphArea);
    area->setContentWidth(0);
    area->viewport()->update();
    updateSiteRecordActions();
}
