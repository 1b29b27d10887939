// The commissioning report: what was set up at a site, on two A4 pages that the
// engineer leaves with the site's records.
#include "app/Sitereport.h"

#include "app/Widgets.h"
#include "channel/Channeldraw.h"
#include "channel/Flowgraph.h"
#include "channel/Flowtable.h"
#include "channel/Flowtableview.h"
#include "core/Csv.h"
#include "exchange/Firmware.h"

#include <QBuffer>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

namespace {

const QString noSensor = QStringLiteral("not known \u2014 no sensor found");
const QString notRead = QStringLiteral("not known \u2014 configuration not read from the sensor");

// The registers of the set-up, and those of the description from which its table follows.
const QList<int> setupRegisters{1, 23, 24};
const QList<int> descriptionRegisters{128, 129, 130, 131};

enum class Held
{
    NotKnown,
    Differs,
    Same,
};

// Register by register, as a verification compares them: a word the sensor is known to
// hold that is not the window's is a difference; the same only where every word is known.
Held heldAsShown(const SiteReport &r, const QList<int> &registers)
{
    bool allKnown = true;
    for (int reg : registers) {
        const auto held = r.held.constFind(reg);
        if (held == r.held.cend())
            allKnown = false;
        else if (held.value() != r.window.value(reg))
            return Held::Differs;
    }
    return allKnown ? Held::Same : Held::NotKnown;
}

QString metres(qint32 mm)
{
    return MetresText(mm) + QStringLiteral(" m");
}

QString dimensionsText(qint32 type, const ChannelDimensions &d)
{
    switch (type) {
    case ctRectangularWeir:
        return QStringLiteral("channel width W = %1, crest height P = %2")
            .arg(metres(d.channelWidth), metres(d.crestHeight));
    case ctConstrictedWeir:
        return QStringLiteral("channel width W = %1, notch width b = %2, crest height P = %3")
            .arg(metres(d.channelWidth), metres(d.notchWidth), metres(d.crestHeight));
    case ctVNotchWeir:
        return QStringLiteral("notch angle %1").arg(NotchAngleText(d.notchAngle));
    default:
        return QStringLiteral("none: the sensor reports no flow");
    }
}

// The channel page's picture stands between two walls on a floor, 4 pixels thick.
constexpr int pictureW = 145;
constexpr int pictureH = 196;
constexpr int graphW = 248;
constexpr int graphH = 382;

class Sheet
{
public:
    Sheet(QPainter &p, int width) : p(p), width(width) {}

    void font(int pixels, bool bold = false)
    {
        QFont f(QStringLiteral("Arial"));
        f.setPixelSize(pixels);
        f.setBold(bold);
        p.setFont(f);
        lineHeight = pixels + pixels / 3 + 2;
    }
    void text(const QString &t, int x = 0)
    {
        p.drawText(QRect(x, y, width - x, lineHeight), Qt::AlignLeft | Qt::AlignVCenter, t);
        y += lineHeight;
    }
    // Cells between the given edges (one more edge than cells), on one line.
    void row(const QStringList &cells, const QList<int> &edges, const QList<bool> &right = {})
    {
        for (int i = 0; i < cells.size() && i + 1 < edges.size(); ++i) {
            const bool r = i < right.size() && right[i];
            p.drawText(QRect(edges[i], y, edges[i + 1] - edges[i] - 6, lineHeight),
                       (r ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter, cells[i]);
        }
        y += lineHeight;
    }
    void rule()
    {
        p.drawLine(0, y + 2, width, y + 2);
        y += 6;
    }

    QPainter &p;
    int width;
    int y = 0;
    int lineHeight = 16;
};

void drawFirstPage(Sheet &s, const SiteReport &r)
{
    s.font(20, true);
    s.text(QStringLiteral("Site commissioning report"));
    s.font(12);
    s.text(r.application);
    s.rule();
    s.y += 6;
    s.font(13);
    const QList<QPair<QString, QString>> facts = SiteReportFacts(r);
    for (const auto &f : facts) {
        s.p.setFont([&] {
            QFont b = s.p.font();
            b.setBold(true);
            return b;
        }());
        s.p.drawText(QRect(0, s.y, 210, s.lineHeight), Qt::AlignLeft | Qt::AlignVCenter, f.first);
        s.font(13);
        s.text(f.second, 215);
    }
    s.y += 16;

    // The two drawings as the channel page shows them, the same code at the same size.
    const int top = s.y;
    s.p.save();
    s.p.translate(30, top + 20);
    s.p.setBrush(Qt::black);
    s.p.setPen(Qt::NoPen);
    s.p.drawRect(-3, 20, 4, 180);
    s.p.drawRect(pictureW - 1, 20, 4, 180);
    s.p.drawRect(-3, pictureH, pictureW + 6, 4);
    QFont pictureFont(QStringLiteral("Arial"));
    pictureFont.setPixelSize(15);
    pictureFont.setBold(true);
    s.p.setFont(pictureFont);
    s.p.setClipRect(0, 0, pictureW, pictureH);
    DrawChannelPicture(s.p, pictureW, pictureH, r.channelType, r.dims);
    s.p.restore();

    s.p.save();
    s.p.translate(s.width - graphW - 10, top);
    s.p.setFont(windowFont());
    s.p.setClipRect(0, 0, graphW, graphH);
    const FlowGraphResult drawn = DrawFlowGraphPicture(s.p, graphW, graphH, r.channelType, r.dims);
    s.p.restore();
    if (!drawn.givesFlow) {
        s.font(12);
        s.p.drawText(QRect(s.width - graphW - 10, top, graphW, 40), Qt::AlignCenter,
                     QStringLiteral("No flow curve: this channel type gives no flow."));
    }
}

void drawSecondPage(Sheet &s, const SiteReport &r)
{
    s.font(16, true);
    s.text(QStringLiteral("Flow table"));
    s.font(11);
    if (!HasFlowTable(r.channelType)) {
        s.text(QStringLiteral("None: the channel type \"%1\" gives no flow, so no table is sent.")
                   .arg(ChannelTypeName(r.channelType)));
    } else {
        const FlowTableListing t = ListFlowTable(BuildFlowTable(r.channelType, r.dims));
        const QString which =
            ReportTableWasSent(r)
                ? QStringLiteral("The 32 points sent with \"Send Channel Data to EchoGauge\".")
                : QStringLiteral("The 32 points the description shown would send with \"Send Channel Data to "
                                 "EchoGauge\"; the sensor is not known to hold them.");
        s.text(which);
        s.text(QStringLiteral("Flow-scale exponent %1; one count is %2.").arg(t.exponent).arg(t.resolution));
        const QList<int> left{0, 50, 130, 240, 310};
        const QList<bool> right{true, true, true, true};
        QFont bold = s.p.font();
        bold.setBold(true);
        s.p.setFont(bold);
        s.row({QStringLiteral("Point"), QStringLiteral("Head (m)"),
               QStringLiteral("Flow (%1)").arg(t.flowUnit), QStringLiteral("Count")},
              left, right);
        s.font(11);
        for (const FlowTableRow &row : t.rows) {
            s.row({QString::number(row.point), row.head, row.flow, QString::number(row.count)}, left, right);
        }
    }
    s.y += 14;
    s.font(16, true);
    s.text(QStringLiteral("Last measurements"));
    s.font(11);
    if (r.lastMeasurements.isEmpty()) {
        s.text(QStringLiteral("None taken since the history was last cleared."));
        return;
    }
    const QList<int> left{0, 184, 244, 298, 336, 374, 458, 512, 552, 650};
    const QList<bool> right{false, false, true, false, false, true, true, true, true};
    QFont bold = s.p.font();
    bold.setBold(true);
    s.p.setFont(bold);
    s.row(HistoryHeader(), left, right);
    s.font(11);
    for (const HistoryRecord &m : r.lastMeasurements)
        s.row(HistoryFields(m), left, right);
}

} // namespace

QList<QPair<QString, QString>> SiteReportFacts(const SiteReport &r)
{
    QList<QPair<QString, QString>> f;
    f.append({QStringLiteral("Made"), IsoTimeWithOffset(r.made.toMSecsSinceEpoch(), false)});
    f.append({QStringLiteral("Application"), r.application});
    if (!r.siteName.isEmpty())
        f.append({QStringLiteral("Site"), r.siteName});

    QString serial = noSensor;
    QString firmware = noSensor;
    QString port = noSensor;
    QString connection = noSensor;
    if (r.sensorFound) {
        firmware = FirmwareVersionText(r.firmwareVersion);
        port = r.portName.isEmpty() ? QStringLiteral("not known") : r.portName;
        connection = (r.passthrough ? QStringLiteral("passthrough (through a data logger), %1 baud")
                                    : QStringLiteral("direct, %1 baud"))
                         .arg(r.baud);
        if (!r.configRead)
            serial = notRead;
        else if (r.serial > 0)
            serial = QStringLiteral("%1").arg(r.serial, 5, 10, QLatin1Char('0'));
        else
            serial = QStringLiteral("none: the sensor reports no serial number");
    }
    f.append({QStringLiteral("Sensor serial number"), serial});
    f.append({QStringLiteral("Firmware version"), firmware});
    f.append({QStringLiteral("Port"), port});
    f.append({QStringLiteral("Connection mode"), connection});

    // The set-up as the window shows it: read from the sensor, or not yet.
    const QString shown =
        r.configRead ? QString() : QStringLiteral(" (as set in the window; not read from a sensor)");
    f.append({QStringLiteral("Installed height"), metres(r.installedHeightMm) + shown});
    f.append({QStringLiteral("Window High"), metres(r.windowHighMm) + shown});
    f.append({QStringLiteral("Lost echo"),
              (r.lostEchoRepeats ? QStringLiteral("Repeat Last Value")
                                 : QStringLiteral("Use Fixed Value: %1 mm").arg(r.lostEchoValue)) +
                  shown});
    f.append({QStringLiteral("Channel type"), ChannelTypeName(r.channelType)});
    f.append({QStringLiteral("Dimensions"), dimensionsText(r.channelType, r.dims)});

    QString setup = noSensor;
    QString description = noSensor;
    QString verified = noSensor;
    if (r.sensorFound) {
        const Held setupHeld = heldAsShown(r, setupRegisters);
        if (setupHeld == Held::NotKnown)
            setup = QStringLiteral("not known \u2014 not read or written since the sensor was found");
        else if (setupHeld == Held::Differs)
            setup = QStringLiteral("no: changed in the window since the last read or write");
        else
            setup = QStringLiteral("yes: as last read from or written to the sensor");
        const Held descriptionHeld = heldAsShown(r, descriptionRegisters);
        if (descriptionHeld == Held::NotKnown)
            description = QStringLiteral("not known \u2014 not read or sent since the sensor was found");
        else if (descriptionHeld == Held::Differs)
            description = QStringLiteral("no: changed in the window since the last read or upload");
        else if (r.descriptionSent)
            description = QStringLiteral("yes: as last sent to the sensor");
        else
            description = QStringLiteral("yes: as read from the sensor (its flow table not read back)");
        verified = QStringLiteral("none since the sensor was found");
        if (const auto &v = r.lastVerification) {
            verified = IsoTimeWithOffset(v->at.toMSecsSinceEpoch(), false) + QStringLiteral(": ");
            if (v->differing == 0)
                verified += QStringLiteral("held what the window showed (%1 registers)").arg(v->compared);
            else
                verified += QStringLiteral("%1 of %2 registers differed").arg(v->differing).arg(v->compared);
            if (v->windowHasTable && !v->tableListed)
                verified += QStringLiteral("; no flow table in its dump");
        }
    }
    f.append({QStringLiteral("Sensor holds the set-up"), setup});
    f.append({QStringLiteral("Sensor holds the description"), description});
    f.append({QStringLiteral("Last verification"), verified});
    return f;
}

bool ReportTableWasSent(const SiteReport &r)
{
    return r.sensorFound && r.descriptionSent && heldAsShown(r, descriptionRegisters) == Held::Same;
}

void DrawChannelPicture(QPainter &p, int W, int H, qint32 type, const ChannelDimensions &d)
{
    switch (type) {
    case ctMeasureDepth:
        DrawDepthPicture(p, W, H, true);
        break;
    case ctRectangularWeir:
        DrawRectangularPicture(p, W, H, true);
        break;
    case ctConstrictedWeir:
        DrawConstrictedPicture(p, W, H, W, d.notchWidth, d.channelWidth, true);
        break;
    case ctVNotchWeir:
        DrawVNotchPicture(p, W, H, d.notchAngle, true);
        break;
    default:
        DrawDistancePicture(p, W, H, true);
        break;
    }
}

bool WriteSiteReport(const QString &path, const SiteReport &report, QString *error)
{
    // Drawn into memory first, then saved as the exports are: the file is replaced
    // only once the whole report is there.
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter pdf(&buffer);
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
        // Screen pixels, so the drawings come out as the window draws them.
        pdf.setResolution(96);
        pdf.setTitle(QStringLiteral("Site commissioning report"));
        pdf.setCreator(report.application);
        QPainter painter;
        if (!painter.begin(&pdf)) {
            if (error)
                *error = QStringLiteral("The PDF could not be started.");
            return false;
        }
        const int width = pdf.width();
        Sheet first(painter, width);
        drawFirstPage(first, report);
        pdf.newPage();
        Sheet second(painter, width);
        drawSecondPage(second, report);
        painter.end();
    }
    return WriteFileAtomically(path, buffer.data(), error);
}
