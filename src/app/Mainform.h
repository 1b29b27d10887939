#pragma once

#include "app/Platform.h"
#include "app/Widgets.h"
#include "serial/Enumcomports.h"
#include "serial/Tringbuffer.h"

#include <QByteArray>
#include <QList>
#include <QMainWindow>
#include <QString>

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QScrollArea;
class QSlider;
class QStatusBar;
class QTabWidget;
class Timer;

// One search candidate: a port at a line speed, direct or through a data logger.
struct _TAutoDetectArrayEntry
{
    qint16 portNumber;
    QString portName;
    qint32 baud;
    bool passthrough;
};

// The exchange state numbers of the port-service scheduler.
enum PortState : qint8
{
    psIdle = 0,
    psSearch = 1,
    psSearchPrepare = 2,
    psReadConfigPrepare = 3,
    psReadConfig = 4,
    psWriteConfigPrepare = 5,
    psWriteConfig = 6,
    psMeasurePrepare = 7,
    psMeasure = 8,
    psChannelPrepare = 9,
    psChannelWrite = 10,
    psManualReply = 11,
};

class TformManual;

// The main window. It owns the port, the receive buffer and everything else that
// outlives one event, and carries the behaviour of every subsystem as its own
// operations; each subsystem's operations are defined in that subsystem's sources.
// Fields and controls are public so that tests can set up and inspect a window.
class TformMain : public QMainWindow
{
    Q_OBJECT

public:
    explicit TformMain(const Platform &platform = Platform::system(), QWidget *parent = nullptr);
    ~TformMain() override;

    Platform platform;

    // ---------------------------------------------------------------- application shell
    void FormShow();
    void FormClose();
    void FormDestroy();
    void menuExitClick();
    void menuShowGuideClick();
    void menuManualEntryClick();
    void menuAboutClick();
    void menuOptionsClick();
    void FormKeyPress(QChar key);
    void pbSensorMouseEnter();
    void pbSensorMouseLeave();
    void LoadSettings();
    void StoreSettings();

    // The single simple-text panel of the status bar.
    void setStatusText(const QString &text);
    QString statusText() const;
    void appendStatusText(const QString &more);

    bool keyCapture = false;
    QString keyBuffer;
    qint32 maxHeightPercent = 10;
    QString guideFileName;

    // ---------------------------------------------------------------- serial link
    bool SendCommand(const QByteArray &text, bool passthrough);
    void ReadPort();
    bool PurgeReceive();
    void timerSlowTxTimer();
    void timerTxLedTimer();
    void timerRxLedTimer();

    COMMPORT commPort;
    TRingBuffer *rxBuffer = nullptr;
    QByteArray txPending;
    PortList *portNames = nullptr;

    // ---------------------------------------------------------------- exchanges
    void timerPortServiceTimer();
    void EnableSensorControls(bool enable);
    void StartSearch(const _TAutoDetectArrayEntry &last);
    void SearchTick();
    void menuSearchClick();
    bool CheckFirmware();
    void StartReadConfig();
    void ReadConfigTick();
    void StartWriteConfig();
    void WriteConfigTick();
    void StartMeasurement(bool showResults);
    void MeasurementTick();
    void StartChannelUpload();
    void ChannelUploadTick();
    void ManualReplyTick();

    qint8 portState = psIdle;
    qint8 attempt = 0;
    qint32 timeLeft = 0; // the remaining time of the current attempt, ms
    QList<_TAutoDetectArrayEntry *> *searchList = nullptr;
    qint32 searchIndex = -1;
    qint16 sensorPort = -1;
    QString sensorPortName;
    qint32 sensorBaud = 0;
    bool sensorPassthrough = false;
    quint8 channelStep = 0;
    quint32 options = 7;
    qint16 firmwareVersion = 0;

    // ---------------------------------------------------------------- sensor set-up
    void ShowLostEcho();
    void UpdateSensorHeightDisplay();
    int TrackThumbY(QSlider *bar) const;
    void trackSensorHeightChange();
    void btnHeightUpClick();
    void btnHeightDownClick();
    void cbSetMaxHeightClick();
    void cbLostEchoChange();
    void editLostEchoValueChange();

    qint32 sensorType = 0;
    qint32 lostEchoValue = 0xFFFF;
    bool setupChanged = false;

    // ---------------------------------------------------------------- channel description
    qint32 notchAngle = 90;
    qint32 crestHeight = 1000;
    qint32 channelWidth = 1000;
    qint32 notchWidth = 500;
    qint32 flowExponent = 0;

    // ---------------------------------------------------------------- measurement
    qint32 headAxisMax = 0;
    qint32 flowAxisMax = 0;

    // ---------------------------------------------------------------- timers
    Timer *timerPortService;
    Timer *timerSlowTx;
    Timer *timerRxLed;
    Timer *timerTxLed;
    Timer *timerSonar;

    // ---------------------------------------------------------------- controls
    QTabWidget *pageControl;
    QWidget *tabSensor;
    QWidget *tabChannel;

    QWidget *Panel1;
    Shape *ledRx;
    Shape *ledTx;
    QStatusBar *statusBar;

    QMenu *menuFile;
    QAction *menuLoadChannel;
    QAction *menuSaveChannel;
    QAction *menuOptions;
    QAction *menuExit;
    QMenu *menuEchoGauge;
    QAction *menuSearch;
    QAction *menuReadHeight;
    QAction *menuSetHeight;
    QAction *menuMeasure;
    QAction *menuSetup;
    QAction *menuManualEntry;
    QMenu *menuDisplay;
    QAction *menuMetric;
    QAction *menuImperial;
    QMenu *menuHelp;
    QAction *menuShowGuide;
    QAction *menuAbout;

    // Sensor Setup page
    PaintBox *pbSensor;
    Shape *shapeEchoGauge1;
    Shape *shapeEchoGauge2;
    Shape *shapeEchoGauge3;
    Shape *shapeEchoGauge4;
    Shape *shapeBar;
    Shape *shapeVert;
    Shape *shapeBtm;
    QLabel *labelH;
    Shape *shapeWallLeft;
    Shape *shapeWallRight;
    Shape *shapeWallBtm;
    QSlider *trackSensorHeight;
    QLabel *textSensorHeight;
    QLabel *textSerial;
    QPushButton *btnHeightUp;
    QPushButton *btnHeightDown;
    QPushButton *btnMeasure;
    QCheckBox *cb_Continuous;
    QGroupBox *GroupBox1;
    QLabel *textResultHeight;
    QLabel *textResultSamples;
    QLabel *textResultGain;
    QGroupBox *groupHistory;
    QScrollArea *scrollGraphArea;
    QCheckBox *cbHead;
    QCheckBox *cbFlow;
    QPushButton *btnClearGraph;
    QPushButton *btnSetHeight;
    QCheckBox *cbSetMaxHeight;
    QLabel *labelTarvelCal;
    QLabel *textTarvelCal;
    QComboBox *cbLostEcho;
    QLineEdit *editLostEchoValue;

    // Channel Description page
    QComboBox *cbChanType;
    PaintBox *pbChannel;
    Shape *shapeEchoGauge5;
    Shape *shapeEchoGauge6;
    Shape *shapeEchoGauge7;
    Shape *shapeEchoGauge8;
    QSlider *tbNotchData;
    QLineEdit *editNotchWidth;
    UpDown *udNotchWidth;
    QLineEdit *editCrestHeight;
    UpDown *udCrestHeight;
    QLineEdit *editChanWidth;
    UpDown *udChanWidth;
    QPushButton *btnChanDec;
    QPushButton *btnChanInc;
    QPushButton *btnSendChannelData;
    PaintBox *pbFlowGraph;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void buildForm();
    void buildMenus();
    void buildStatusStrip();
    void buildSensorPage();  // the Sensor Setup page's controls
    void buildChannelPage(); // the Channel Description page's controls
    bool shown = false;
};

// Process-wide: the argument text after the program name, the main window, and the
// manual command window (null while it is closed).
extern QString commandLine;
extern TformMain *formMain;
extern TformManual *formManual;

// Application title and version.
extern const char *const applicationTitle; // "EchoGauge Setup Application"
extern const char *const applicationVersion; // "V1.12"
