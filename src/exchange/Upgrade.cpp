// Firmware update files and the loader program that puts one into the sensor.
#include "exchange/Upgrade.h"

#include "app/Mainform.h"
#include "core/Process.h"
#include "core/Timer.h"
#include "exchange/Firmware.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QWindow>

#include <cstring>

namespace {

const QByteArray updateMagic("ORB Update File\x1a", 16);
const QString updateFolder = QStringLiteral("UPD_Files");
const QString loaderName = QStringLiteral("flashldr.exe");

constexpr quint16 sensorProduct = 115;
constexpr quint16 firmwareKind = 1;

// The wait for the loader: a progress dot every 15 rounds of 100 ms.
constexpr int loaderRoundMs = 100;
constexpr int roundsPerDot = 15;

quint16 wordAt(const QByteArray &bytes, int offset)
{
    return quint16(quint8(bytes[offset]) | quint8(bytes[offset + 1]) << 8);
}

// While the loader runs the window is repainted but takes no input, and the
// application's own timers do not tick: the port is the loader's, and a click
// must not start an exchange on it. Input that arrives meanwhile is thrown away
// rather than acted on afterwards.
class LoaderWaitFilter : public QObject
{
public:
    // A request to close the main window is not thrown away but noted in closeHeld.
    LoaderWaitFilter(QWidget *window, bool *closeHeld) : window(window), closeHeld(closeHeld)
    {
        qApp->installEventFilter(this);
    }
    ~LoaderWaitFilter() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::NonClientAreaMouseButtonPress:
        case QEvent::NonClientAreaMouseButtonRelease:
        case QEvent::NonClientAreaMouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
        case QEvent::TabletMove:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
        case QEvent::Close: // closing the window half-way through a flash
            // Only a close is held for later: input to the window is no request to quit.
            if (event->type() == QEvent::Close && (watched == window || watched == window->windowHandle()))
                *closeHeld = true;
            event->ignore(); // refused, as the one who asked is told
            return true;
        case QEvent::Timer:
            // The timers of the exchanges, lamps and animation; Qt's own keep going.
            return qobject_cast<QTimer *>(watched) && qobject_cast<Timer *>(watched->parent());
        default:
            return false;
        }
    }

private:
    QWidget *window;
    bool *closeHeld;
};

} // namespace

bool ReadUpdateHeader(const QByteArray &start, UpdateFileHeader *header)
{
    if (start.size() < updateHeaderBlock || !start.startsWith(updateMagic))
        return false;
    const int length = wordAt(start, 16);
    if (length < 2 || length > updateHeaderMaxLength)
        return false;
    quint16 sum = 0;
    for (int i = 0; i < length / 2; ++i)
        sum = quint16(sum + wordAt(start, 2 * i));
    if (sum != 0)
        return false;

    // Only the first length bytes are header; the rest of the record is zero.
    const QByteArray h = start.left(length).leftJustified(updateHeaderMaxLength, '\0');
    UpdateFileHeader r;
    std::memcpy(r.magic, h.constData(), sizeof r.magic);
    r.length = wordAt(h, 16);
    std::memcpy(r.spare1, h.constData() + 18, sizeof r.spare1);
    r.product = wordAt(h, 28);
    r.kind = wordAt(h, 30);
    std::memcpy(r.spare2, h.constData() + 32, sizeof r.spare2);
    r.minor = quint8(h[34]);
    r.major = quint8(h[35]);
    std::memcpy(r.spare3, h.constData() + 36, sizeof r.spare3);
    if (header)
        *header = r;
    return true;
}

bool ReadUpdateHeader(const QString &path, UpdateFileHeader *header)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return ReadUpdateHeader(file.read(updateHeaderBlock), header);
}

bool IsSensorFirmware(const UpdateFileHeader &header)
{
    return header.product == sensorProduct && header.kind == firmwareKind;
}

qint16 UpdateFileVersion(const UpdateFileHeader &header)
{
    return qint16(header.major * 100 + header.minor);
}

UpdateFile FindUpdateFile(const QString &dataDir)
{
    UpdateFile best;
    // Without a data directory QDir would list the current one.
    if (dataDir.isEmpty())
        return best;
    const QDir folder(QDir(dataDir).filePath(updateFolder));
    // Plain files only: no folders, no hidden files, no devices or pipes, which
    // could block the read. Listed by name, as the folder shows them to a user.
    const QStringList names =
        folder.entryList({QStringLiteral("*.upd")}, QDir::Files, QDir::Name | QDir::IgnoreCase);
    for (const QString &name : names) {
        const QString path = folder.filePath(name);
        UpdateFileHeader header;
        if (!ReadUpdateHeader(path, &header) || !IsSensorFirmware(header))
            continue;
        const qint16 version = UpdateFileVersion(header);
        if (version > best.version) {
            best.version = version;
            best.path = path;
        }
    }
    return best;
}

QString LoaderPath(const QString &dataDir)
{
    if (dataDir.isEmpty())
        return QString();
    return QDir(dataDir).absoluteFilePath(loaderName);
}

bool LoaderPresent(const QString &dataDir)
{
    const QString path = LoaderPath(dataDir);
    return !path.isEmpty() && QFileInfo(path).isFile();
}

QStringList LoaderArguments(quint8 portNumber, const QString &updatePath)
{
    // The loader is a Windows program of the maker's: it is given a Windows path.
    return {QStringLiteral("-Q"), QStringLiteral("-C%1").arg(portNumber),
            QStringLiteral("-N\"%1\"").arg(QDir::toNativeSeparators(updatePath))};
}

TLoaderResult TformMain::RunLoader(const QString &path)
{
    // The loader opens the port itself, by number.
    const quint8 port = commPort.isOpen() ? commPort.portNumber : 0;
    ClosePort(&commPort);

    TLoaderResult result = lrNotStarted;
    const QString program = LoaderPath(platform.dataDir);
    std::unique_ptr<ChildProcess> loader;
    if (!program.isEmpty())
        loader = platform.processes->start(program, LoaderArguments(port, path));
    if (loader) {
        setStatusText(QStringLiteral(" Upgrading EchoGauge firmware ..."));
        LoaderWaitFilter noInput(this, &closeHeldForLoader);
        const qint64 startedMs = platform.clock->nowMs();
        bool ended = false;
        for (int round = 1;; ++round) {
            QCoreApplication::processEvents();
            if (round % roundsPerDot == 0)
                appendStatusText(QStringLiteral("."));
            if (loader->waitForFinished(loaderRoundMs)) {
                ended = true;
                break;
            }
            if (platform.clock->nowMs() - startedMs >= loaderTimeoutMs)
                break;
        }
        QCoreApplication::processEvents(); // drops what came in during the last wait
        int code = 0;
        if (!ended) {
            loader->kill();
            result = lrNoExitCode;
        } else if (!loader->exitCode(&code)) {
            result = lrNoExitCode;
        } else {
            result = code == 0 ? lrSuccess : lrFailed;
        }
        loader.reset();
    }

    // The sensor's port comes back whatever became of the upgrade.
    if (sensorPort >= 0 && sensorPort <= 255)
        OpenPort(&commPort, quint8(sensorPort), sensorBaud);
    return result;
}
