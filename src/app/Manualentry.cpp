// The engineering terminal: typed commands go out through the main window's sender,
// and everything the port delivers while the window is open is shown line by line.
#include "app/Manualentry.h"

#include "app/Accessibility.h"
#include "app/Mainform.h"
#include "core/Timer.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>

#include <optional>

namespace {

constexpr int eolIntervalMs = 1000; // a line without its CR waits this long after the last one
constexpr int listenMs = 2000;      // how long the port is read after a typed command
// A reply still coming in then is listened to until it ends, up to this long in all:
// the register dump alone takes about four seconds at 9600 baud.
constexpr int longestListenMs = 10000;
constexpr int pollIntervalMs = 100;
constexpr int rowPitch = 60;
// Enough lines to scroll back over a long session; older ones are dropped so that a
// window left open under continuous measurement does not grow without bound.
constexpr int logLineLimit = 20000;

const QString settingsGroup = QStringLiteral("MME");
const QString hint = QStringLiteral("Enter command here ('^m'=<CR>)");

// ASCII names of the control characters 0..31.
const char *const controlNames[32] = {
    "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT", "LF",  "VT",  "FF", "CR", "SO", "SI",
    "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB", "CAN", "EM", "SUB", "ESC", "FS", "GS", "RS", "US",
};

// Windows-1252 characters of the codes 128..159 (0 where the page defines none);
// 160..255 are the same as Latin-1.
const char16_t cp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

// A stored integer; missing, or anything that does not read as one, counts as absent.
std::optional<int> readInteger(const QSettings &store, const QString &name)
{
    if (!store.contains(name))
        return std::nullopt;
    bool ok = false;
    const int n = store.value(name).toInt(&ok);
    if (!ok)
        return std::nullopt;
    return n;
}

} // namespace

bool listenWithoutManualWindow = false;

QByteArray manualCommandText(const QString &typed)
{
    QString text = typed;
    int at = text.indexOf(QLatin1String("^m"));
    if (at < 0)
        at = text.indexOf(QLatin1String("^M"));
    if (at >= 0)
        text.replace(at, 2, QChar(13));
    return text.toLatin1();
}

bool assembleManualLine(QByteArray &pending, char byte, QByteArray *finished)
{
    if (byte == '\r' || pending.size() + 1 >= manualLineLimit) {
        if (byte != '\r')
            pending.append(byte);
        if (finished)
            *finished = pending;
        pending.clear();
        return true;
    }
    pending.append(byte);
    return false;
}

QString manualLogText(const QByteArray &line)
{
    QString out;
    out.reserve(line.size());
    for (int i = 0; i < line.size(); ++i) {
        const uchar c = uchar(line.at(i));
        if (c == '\n' && i == 0)
            continue;
        if (c < 32) {
            out += QLatin1Char('<') + QLatin1String(controlNames[c]) + QLatin1Char('>');
        } else if (c == 127) {
            out += QLatin1String("<DEL>");
        } else if (c >= 128 && c < 160) {
            const char16_t u = cp1252High[c - 128];
            if (u)
                out += QChar(u);
            else
                out += QStringLiteral("<%1>").arg(c, 2, 16, QLatin1Char('0')).toUpper();
        } else {
            out += QChar(c);
        }
    }
    return out;
}

TformManual::TformManual(TformMain *owner) : QWidget(owner, Qt::Window), owner(owner)
{
    installAccessibleInterfaces(); // a window with its caption, for a screen reader
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral(" Manual Command Entry"));
    QFont arial(QStringLiteral("Arial"));
    arial.setPixelSize(13);
    setFont(arial);
    // Narrower or lower than this, the log's buttons would run into the command rows.
    setMinimumSize(500, 306);
    resize(622, 306);

    QPushButton **buttons[5] = {&btnTx1, &btnTx2, &btnTx3, &btnTx4, &btnTx5};
    QCheckBox **checks[5] = {&checkPassthrough1, &checkPassthrough2, &checkPassthrough3, &checkPassthrough4,
                             &checkPassthrough5};
    QLineEdit **edits[5] = {&editTx1, &editTx2, &editTx3, &editTx4, &editTx5};
    for (int n = 0; n < 5; ++n) {
        auto *button = new QPushButton(QStringLiteral("Tx"), this);
        button->setGeometry(8, 8 + rowPitch * n, 33, 24);
        button->setAutoDefault(false);
        auto *edit = new QLineEdit(this);
        edit->setGeometry(55, 8 + rowPitch * n, 154, 24);
        edit->setToolTip(hint);
        edit->installEventFilter(this);
        auto *check = new QCheckBox(QStringLiteral("ZK Pass-through"), this);
        check->setGeometry(55, 38 + rowPitch * n, 154, 17);
        *buttons[n] = button;
        *checks[n] = check;
        *edits[n] = edit;
        txRows[size_t(n)] = {button, check, edit};
        connect(button, &QPushButton::clicked, this, [this, button] { btnTx1Click(button); });
    }

    memoRx = new QPlainTextEdit(this);
    memoRx->setReadOnly(true);
    memoRx->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memoRx->setMaximumBlockCount(logLineLimit);
    QFont courier(QStringLiteral("Courier New"));
    courier.setStyleHint(QFont::TypeWriter);
    courier.setPixelSize(12);
    memoRx->setFont(courier);

    btnClear = new QPushButton(QStringLiteral("Clear"), this);
    btnClear->setAutoDefault(false);
    checkAlwaysShow = new QCheckBox(QStringLiteral("Always show this screen"), this);
    placeAnchoredControls();
    connect(btnClear, &QPushButton::clicked, this, &TformManual::btnClearClick);

    checkAlwaysShow->setChecked(owner->options & 0x10);

    timerEol = new Timer(owner->platform.clock, eolIntervalMs, this);
    connect(timerEol, &Timer::timeout, this, &TformManual::timerEolTimer);
    timerEol->start();
}

TformManual::~TformManual()
{
    if (formManual == this)
        formManual = nullptr;
}

void TformManual::placeAnchoredControls()
{
    // The log grows with the window; "Clear" keeps to its bottom-left corner and the
    // check box to its bottom-right, as laid out on a 622 x 306 window.
    memoRx->setGeometry(232, 8, width() - 240, height() - 46);
    btnClear->setGeometry(232, height() - 32, 75, 25);
    checkAlwaysShow->setGeometry(width() - 177, height() - 28, 169, 17);
}

void TformManual::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeAnchoredControls();
}

void TformManual::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!shown) {
        shown = true;
        FormShow();
    }
}

void TformManual::FormShow()
{
    resize(630, 340);
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
    move(area.x() + area.width() / 2 - width() / 2, area.y() + area.height() / 2 - height() / 2);
    const QPoint centred = pos();

    QSettings store(owner->platform.settingsOrganization, owner->platform.settingsApplication);
    store.beginGroup(settingsGroup);
    // Read in the order they were written; the first value missing or unreadable
    // ends the reading, and what came before it stays.
    [&] {
        const auto top = readInteger(store, QStringLiteral("Top"));
        if (!top)
            return;
        move(x(), *top);
        const auto heightValue = readInteger(store, QStringLiteral("Right")); // holds the height
        if (!heightValue)
            return;
        resize(width(), *heightValue);
        const auto left = readInteger(store, QStringLiteral("Left"));
        if (!left)
            return;
        move(*left, y());
        const auto widthValue = readInteger(store, QStringLiteral("Width"));
        if (!widthValue)
            return;
        resize(*widthValue, height());
        for (int n = 0; n < 5; ++n) {
            const TxRow &row = txRows[size_t(n)];
            row.edit->setText(store.value(QStringLiteral("TX_TEXT_%1").arg(n)).toString());
            const auto check = readInteger(store, QStringLiteral("TX_CHECK_%1").arg(n));
            if (!check)
                return;
            row.passthrough->setChecked(*check != 0);
        }
    }();

    // A size or place saved on another screen arrangement must not leave the window
    // out of reach: too large a size is cut to the desktop, and a window that would
    // lie wholly off every screen stays centred.
    QRect desktop;
    for (const QScreen *s : QGuiApplication::screens())
        desktop |= s->geometry();
    if (desktop.isEmpty())
        desktop = area;
    resize(qMin(width(), desktop.width()), qMin(height(), desktop.height()));
    if (!desktop.intersects(QRect(pos(), size()).adjusted(40, 20, -40, -20)))
        move(centred);
}

void TformManual::closeEvent(QCloseEvent *event)
{
    FormClose();
    event->accept();
    if (formManual == this)
        formManual = nullptr; // closed: nothing more is handed to it
}

void TformManual::FormClose()
{
    QSettings store(owner->platform.settingsOrganization, owner->platform.settingsApplication);
    if (store.isWritable()) { // a store that cannot be written is passed over in silence
        store.beginGroup(settingsGroup);
        store.setValue(QStringLiteral("Top"), y());
        store.setValue(QStringLiteral("Right"), height());
        store.setValue(QStringLiteral("Left"), x());
        store.setValue(QStringLiteral("Width"), width());
        for (int n = 0; n < 5; ++n) {
            const TxRow &row = txRows[size_t(n)];
            store.setValue(QStringLiteral("TX_TEXT_%1").arg(n), row.edit->text());
            store.setValue(QStringLiteral("TX_CHECK_%1").arg(n), row.passthrough->isChecked() ? 1 : 0);
        }
        store.endGroup();
        store.sync();
    }

    if (checkAlwaysShow->isChecked())
        owner->options |= 0x10;
    else
        owner->options &= ~quint32(0x10);
    owner->menuManualEntry->setChecked(false);

    // Nobody listens any more: end the listening period now, so that the Tx buttons
    // of the next window opened are not refused for an exchange that no longer runs.
    if (owner->portState == psManualReply) {
        owner->timerPortService->stop();
        owner->portState = psIdle;
    }
    timerEol->stop();
}

void TformManual::btnTx1Click(QObject *sender)
{
    // The line is never sent while an exchange runs: its reply would be taken for
    // that exchange's, and the exchange's reply would land here.
    if (owner->portState != psIdle)
        return;
    const TxRow *row = nullptr;
    for (const TxRow &r : txRows)
        if (r.button == sender)
            row = &r;
    if (!row)
        return;
    const QString typed = row->edit->text();
    if (typed.isEmpty())
        return;
    owner->StartManualCommand(manualCommandText(typed), row->passthrough->isChecked());
}

void TformMain::StartManualCommand(const QByteArray &text, bool passthrough)
{
    // A refused line is not reported; the listening period runs all the same.
    SendCommand(text, passthrough);
    portState = psManualReply;
    timerPortService->setInterval(pollIntervalMs);
    timeLeft = listenMs;
    timerPortService->start();
}

void TformManual::editTx1Enter(QObject *sender)
{
    for (const TxRow &row : txRows)
        row.button->setDefault(row.edit == sender);
}

bool TformManual::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn)
        for (const TxRow &row : txRows)
            if (row.edit == watched)
                editTx1Enter(watched);
    return QWidget::eventFilter(watched, event);
}

void TformManual::keyPressEvent(QKeyEvent *event)
{
    // Enter, unless a button has the focus, presses the default button: the Tx of
    // the row whose edit was entered last.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        for (const TxRow &row : txRows) {
            if (row.button->isDefault() && row.button->isEnabled()) {
                row.button->click();
                return;
            }
        }
    }
    QWidget::keyPressEvent(event);
}

void TformManual::btnClearClick()
{
    memoRx->clear();
}

void TformManual::appendLogLine(const QByteArray &line)
{
    memoRx->appendPlainText(manualLogText(line));
}

void TformManual::EchoReceived(char byte)
{
    QByteArray line;
    if (!assembleManualLine(rxLine, byte, &line))
        return;
    appendLogLine(line);
    if (byte == '\r') {
        // A line that follows without its CR is shown a full second after this one.
        timerEol->stop();
        timerEol->start();
    }
}

void TformManual::timerEolTimer()
{
    // The LF of a CR LF line end is no line of its own: it stays, unseen, at the
    // start of the next line rather than showing as an empty one.
    if (!rxLine.isEmpty() && rxLine != "\n") {
        appendLogLine(rxLine);
        rxLine.clear();
    }
    timerEol->stop();
}

void TformMain::menuManualEntryClick()
{
    if (formManual) {
        formManual->setWindowState(formManual->windowState() & ~Qt::WindowMinimized);
        formManual->show();
        formManual->raise();
        formManual->activateWindow();
    } else {
        formManual = new TformManual(this);
        formManual->show();
    }
    // The item is a check mark for "the window is open", not a switch: a click must
    // not take the mark off a window that stays open.
    menuManualEntry->setChecked(formManual != nullptr);
}

// The listening period after a typed command: the port is read every 100 ms for two
// seconds and whatever comes is shown by the echo; no reply is looked for.
void TformMain::ManualReplyTick()
{
    timerPortService->stop();
    timeLeft -= timerPortService->interval();
    // The port is read at the end of the two seconds too: what has arrived by then
    // belongs to the typed line.
    const quint64 before = rxBytesRead;
    ReadPort();
    const bool stillArriving = rxBytesRead != before && timeLeft > listenMs - longestListenMs;
    if (timeLeft > 0 || stillArriving) {
        timerPortService->setInterval(pollIntervalMs);
        timerPortService->start();
    } else {
        portState = psIdle;
    }
}
