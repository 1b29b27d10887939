#pragma once

#include <QByteArray>
#include <QString>
#include <QWidget>

#include <array>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class Timer;
class TformMain;

// ---------------------------------------------------------------- plain functions

// What a typed command line puts on the wire: the first "^m" (or, when the line has
// none, the first "^M") becomes one carriage return; everything else goes out as
// typed, so a line that needs a line end must carry "^m". The line is sent as
// single-byte text; a character with no single-byte form goes out as "?".
QByteArray manualCommandText(const QString &typed);

// Process-wide: a typed command's reply is listened for although no manual command
// window is open (the console program's "send" listens itself).
extern bool listenWithoutManualWindow;

// A received line longer than this is moved to the log without waiting for its
// carriage return, so that a device that never ends its lines cannot grow the
// pending line without bound.
constexpr int manualLineLimit = 4096;

// Takes one received byte into the pending line. Returns true when the byte ends
// the line (a carriage return, or the line reaching manualLineLimit); the finished
// line is then in *finished (without the carriage return) and pending is empty.
bool assembleManualLine(QByteArray &pending, char byte, QByteArray *finished);

// How a received line is shown in the log. Only the carriage return ends a line, so
// every other control character must stay visible without breaking the layout: a
// line feed at the very start of a line (the second half of a CR LF line end) is
// shown as nothing; any other control character is shown by its ASCII name in angle
// brackets, as the edits' hint writes the carriage return ("<LF>", "<ESC>", "<DEL>").
// Bytes 128..255 are Windows-1252 text; the five codes that page leaves undefined
// are shown as their hexadecimal value ("<81>").
QString manualLogText(const QByteArray &line);

// ---------------------------------------------------------------- the window

// The engineering terminal: five command lines, each with its own transmit button
// and framing choice, and a log of everything the sensor sends while it is open.
// One at most exists, reached through formManual; the main window owns it.
class TformManual : public QWidget
{
    Q_OBJECT

public:
    explicit TformManual(TformMain *owner);
    ~TformManual() override;

    struct TxRow
    {
        QPushButton *button;
        QCheckBox *passthrough;
        QLineEdit *edit;
    };

    void FormShow();
    void FormClose();
    void btnTx1Click(QObject *sender);
    void editTx1Enter(QObject *sender);
    void btnClearClick();
    void timerEolTimer();
    void EchoReceived(char byte);

    std::array<TxRow, 5> txRows;
    QByteArray rxLine; // received, not yet in the log

    QPushButton *btnTx1, *btnTx2, *btnTx3, *btnTx4, *btnTx5;
    QCheckBox *checkPassthrough1, *checkPassthrough2, *checkPassthrough3, *checkPassthrough4,
        *checkPassthrough5;
    QLineEdit *editTx1, *editTx2, *editTx3, *editTx4, *editTx5;
    QPlainTextEdit *memoRx;
    QPushButton *btnClear;
    QCheckBox *checkAlwaysShow;
    Timer *timerEol;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void appendLogLine(const QByteArray &line);
    void placeAnchoredControls();

    TformMain *owner;
    bool shown = false;
};
