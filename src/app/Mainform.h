#pragma once

#include "app/Platform.h"
#include "app/Sitereport.h"
#include "app/Widgets.h"
#include "exchange/Firmware.h"
#include "exchange/Verify.h"
#include "measure/Soundwave.h"
#include "measure/Tgraphentry.h"
#include "serial/Enumcomports.h"
#include "serial/NetworkPort.h"
#include "serial/Portaccess.h"
#include "serial/Tringbuffer.h"

#include <QByteArray>
#include <QList>
#include <QMainWindow>
#include <QString>

#include <array>
#include <functional>
#include <limits>
#include <optional>

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPainter;
class QPushButton;
class QScrollArea;
class QSettings;
class QSlider;
class QStatusBar;
class QTabWidget;
class Timer;
struct MeasurementReply;
class SoundWaveOverlay;

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
struct RegisterDump;

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
    void loadStoredValues(QSettings &store); // the values read in order, up to the first missing one
    void StoreSettings();
    // Keeps the window's minimum at the designed client area and the minimum outer size.
    void updateMinimumSize();
    bool atStartSize = false; // shown at the start size and not resized since

    // The single simple-text panel of the status bar.
    void setStatusText(const QString &text);
    QString statusText() const;
    void appendStatusText(const QString &more);
    // Told every status text as it is set: the console program streams them.
    std::function<void(const QString &)> statusTextHook;

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
    quint64 rxBytesRead = 0; // every byte ReadPort has taken from the port
    QByteArray txPending;
    quint32 txPortGeneration = 0; // the port the pending characters were meant for
    // When the sender's last tick was due: a port-service tick due at that same moment
    // still finds the sender busy, whichever of the two the event loop runs first.
    qint64 txDoneDueUs = std::numeric_limits<qint64>::min();
    bool senderBusyAt(qint64 dueUs) const;
    PortList *portNames = nullptr;

    // ---------------------------------------------------------------- exchanges
    void timerPortServiceTimer();
    void EnableSensorControls(bool enable);
    void StartSearch(const _TAutoDetectArrayEntry &last);
    PortList SearchPorts(); // the local ports, then the network ports; or the one asked for
    void SearchTick();
    void menuSearchClick();
    bool CheckFirmware();
    TLoaderResult RunLoader(const QString &path);
    void StartReadConfig();
    void ReadConfigTick();
    void StartWriteConfig();
    void WriteConfigTick();
    void StartMeasurement(bool showResults);
    void MeasurementTick();
    void StartChannelUpload();
    void ChannelUploadTick();
    void ManualReplyTick();

    // What one tick of a working state is for.
    enum class TickTurn
    {
        Poll,     // the request is outstanding: a progress dot added, the port read
        LastLook, // the attempt's wait has just run out: the port read once more
        Send,     // nothing is outstanding: the next request (or the first) goes out
    };
    // The tick pattern shared by the working states: timer off, the interval counted
    // off, and the port read unless nothing is outstanding. A reply found at the last
    // look came in time; only when there is none is the request made again.
    TickTurn beginWorkingTick();
    void pollAgain(); // the reply is not complete: look again in 100 ms
    // After a look for the reply (finished: a reply was there and the exchange has
    // moved on): true when this tick is done, by that or, while the wait lasts, by
    // another poll set; false at the last look without one, when a request goes out.
    bool replyTakenOrAwaited(TickTurn turn, bool finished);
    bool acknowledgementHeld() const; // "OK\r" has arrived whole
    bool nextAttempt();               // counts the attempt; false once three have been made
    // Shows the action text with the attempt and " ...", sends the request over the
    // sensor connection's framing and waits timeoutMs for the reply.
    void sendAttempt(const QString &action, const QByteArray &request, bool passthrough, qint32 timeoutMs);
    void finishExchange(const QString &status, bool enableControls);
    void runPreparation(qint8 next, int intervalMs);
    void openNextSearchCandidate();
    void removeLaterCandidates(qint16 portNumber, qint32 baud, bool anyBaud);
    void explainRefusedPorts(); // after a search that found nothing
    void enterFirstState(qint8 state);
    // True while an exchange's first step waits for a network port's connection (the
    // tick is re-armed); a search candidate whose server cannot be reached is left.
    bool awaitingLink();
    void noteFixedSpeed(const QString &url); // once a run for each such port
    QStringList fixedSpeedNoted;
    // The network ports of the settings, searched after the local ports.
    QList<NetworkPortEntry> networkPorts;
    // The one port the search tries ("--port NAME"), empty for every port.
    QString searchOnlyPort;
    void applyRegisterDump(const RegisterDump &dump); // a valid, adjusted dump into the window
    // The reply each exchange waits for, taken and acted on when it is there whole;
    // false when it is not (yet). replyEnded: the line has been quiet for a whole tick.
    bool takeIdentification();
    bool takeRegisterDump(bool replyEnded);
    bool takeWriteAcknowledgement(); // true once the last register is written
    bool takeMeasurementReply();
    bool takeUploadAcknowledgement(); // true once the last step is written
    // "Verify Sensor": the register dump, read by the configuration read's exchange,
    // compared with what the window would write; nothing is taken over.
    void menuVerifySensorClick();
    void finishVerifySensor(const QByteArray &reply, bool replyEnded);
    RegisterWords windowRegisterWords() const; // what an upload of the window's set-up would write
    bool sensorConnected() const;              // found by the last search, its port open
    // The register values of the set-up write and the channel upload, from the controls.
    quint16 SensorHeightWord() const;
    quint16 WindowHighWord() const;
    quint16 LostEchoWord();          // may correct the typed value and say so
    QByteArray writeConfigCommand(); // the register write of writeStep

    // Set: the search tries only this port number (at every speed and mode it would).
    int searchPortsOpened = 0; // by the last search
    // Set: asked before the firmware check starts the loader; false declines the
    // update (the console program installs firmware only when told to).
    std::function<bool()> confirmUpgrade;
    // Sends one typed line as the manual command window does and listens for its reply.
    void StartManualCommand(const QByteArray &text, bool passthrough);
    QByteArray lastRegisterDump; // the last whole dump a read or a verification took
    // What the last verification compared: the dump's values and the words expected.
    QMap<int, qint32> lastVerifySensor;
    RegisterWords lastVerifyWindow;

    qint8 portState = psIdle;
    qint8 attempt = 0;
    qint32 timeLeft = 0; // the remaining time of the current attempt, ms
    QList<_TAutoDetectArrayEntry *> *searchList = nullptr;
    qint32 searchIndex = -1;
    QList<RefusedPort> refusedPorts; // what the running search could not open, and why
    qint16 sensorPort = -1;
    QString sensorPortName;
    qint32 sensorBaud = 0;
    bool sensorPassthrough = false;
    quint8 channelStep = 0;
    quint32 options = 7;
    qint16 firmwareVersion = 0;
    qint32 readLastCount = 0;     // bytes held at the previous tick of the configuration read
    bool verifyingSensor = false; // the dump being read is for "Verify Sensor"
    quint8 writeStep = 0;         // register of the configuration write, 0..3
    qint32 writeLastCount = 0;    // bytes held at the previous tick of the configuration write
    qint32 loaderTimeoutMs = loaderTimeoutDefaultMs; // then the loader is ended
    // A request to quit must never start a flash nor be lost during one. While the
    // firmware check runs, a close that ended one of its boxes stops the check; one
    // that came while the loader ran is held and carried out once it has ended.
    bool firmwareCheckRunning = false;
    bool closedDuringFirmwareCheck = false;
    bool closeHeldForLoader = false;

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
    double FlowForHead(qint32 head) const;     // m³/s, -1.0 when the channel gives no flow
    qint32 channelType() const;                // the selected item of cbChanType
    ChannelDimensions dimensionsShown() const; // the description's dimensions as the controls hold them
    void cbChanTypeClick();
    void editChanWidthChange(QObject *sender); // every keystroke
    // A dimension the user has finished entering (Enter, leaving the edit, an arrow).
    void editChanWidthExit(QObject *sender);
    // For a constricted weir, a channel narrower than its notch gets a notch of half
    // its width; the notch track bar then spans the channel.
    void ApplyNotchWidthRule();
    // A key typed into a dimension edit: true when it was dealt with here (a comma
    // taken as the decimal point, a refused key with a beep) and must go no further.
    bool editChanWidthKeyPress(QLineEdit *edit, QChar key);
    void udChanWidthChangingEx(QObject *sender, bool &allowChange, int newValue, UpDown::Direction direction);
    void tbNotchDataChange();
    void btnChanIncClick();
    void btnChanDecClick();
    // Red while the sensor may not hold the description shown, black after an upload.
    void markChannelChanged(bool changed);
    // Sets a dimension edit's text and runs its change handler, also when the text is
    // already the same.
    void setChannelEditText(QLineEdit *edit, const QString &text);
    // The controls, captions and sensor picture that follow the channel type and its
    // dimensions; the paint handler below only draws.
    void ShowChannelControls();
    void pbChannelPaint(PaintBox *sender, QPainter &canvas);
    void DrawDistanceChannel(PaintBox *box, QPainter &canvas);
    void DrawDepthChannel(PaintBox *box, QPainter &canvas);
    void DrawRectangularWeir(PaintBox *box, QPainter &canvas);
    void DrawConstrictedWeir(PaintBox *box, QPainter &canvas);
    void DrawVNotchWeir(PaintBox *box, QPainter &canvas);
    void ShowNotchTrackBar(bool show);
    void ShowNotchWidthEdit(bool show);
    void ShowChannelWidthControls(bool show);
    void ShowCrestHeightControls(bool show);
    void ShowChannelSensorImage(bool show);
    void ShowSensorHeightControls(bool show);
    void SetupNotchWidthTrackBar();
    void SetupNotchAngleTrackBar();
    void pbFlowGraphPaint(PaintBox *box, QPainter &canvas);
    void DrawFlowGraph(PaintBox *box, QPainter &canvas);
    void pbFlowGraphMouseMove(int x, int y);
    void menuLoadChannelClick();
    void menuSaveChannelClick();
    void btnSendChannelDataClick();
    quint16 uploadValue(int step); // the value the upload writes at a step

    qint32 notchAngle = 90;
    qint32 crestHeight = 1000;
    qint32 channelWidth = 1000;
    qint32 notchWidth = 500;
    qint32 flowExponent = 0;
    bool channelChanged = false; // the changed mark of btnSendChannelData
    float flowScaleX = 0;        // flow graph: pixels per mm of head
    float flowScaleY = 0;        // flow graph: pixels per m³/s
    // 32 pairs of head (mm) and flow count, as last prepared for an upload.
    std::array<quint16, 64> flowTable{};

    // ---------------------------------------------------------------- measurement
    void menuMeasureClick();
    void completeMeasurement(const MeasurementReply &reply);
    void AddHistoryEntry(qint32 value, float flow, float headFlow, qint8 validSamples, qint8 samples,
                         qint8 gain);
    void LayoutHistoryGraph();
    void scrollGraphAreaResize();
    void cbHeadClick();
    void cbFlowClick();
    void btnClearGraphClick();
    void clearHistory(); // empties the history graph as "Clear" does
    HistoryScales historyScales() const;
    qint64 historyContentWidth() const;
    void paintHistory(QPainter &painter, const QRect &exposed);
    QString historyHintAt(const QPoint &at) const; // the hint of the bar under a graph-area point
    void StartSoundWaves();
    void StopSoundWaves();
    void timerSonarTimer();
    void StepSoundWave(TSoundWave &wave);
    void EraseSoundWave(TSoundWave &wave);
    void buildMeasurement();
    void buildHistoryGraph();
    void buildSoundWaves();

    THistory *historyEntries = nullptr;
    qint32 headAxisMax = 0;
    qint32 flowAxisMax = 0;
    float headScale = 0;
    float flowScale = 0;
    qint32 barBaseline = 0;
    qint32 gainRowTop = 0;
    qint32 samplesRowTop = 0;
    int historyLayouts = 0; // full layouts run so far
    bool historyLayoutRunning = false;
    TSoundWave soundWaves[soundWaveCount];
    QImage sonarBackdrop; // what the window shows where the sensor drawing stands
    SoundWaveOverlay *sonarOverlay = nullptr;

    // ---------------------------------------------------------------- site record
    void buildSiteRecord();
    void updateSiteRecordActions(); // enabled while each has something to give
    void menuShowFlowTableClick();
    void menuExportFlowTableClick();
    void menuExportHistoryClick();
    void menuSaveReportClick();
    SiteReport siteReport() const; // what the window knows now, for the report

    // What a read found in the sensor: every register it took as it stood. R1 comes from
    // the dump's other values, as the read does not show it.
    void recordReadRegisters(const RegisterDump &dump, const QMap<int, qint32> &others);
    // A register write the sensor acknowledged.
    void recordWrittenRegister(int reg, quint16 word);

    bool sensorFound = false;                           // identified and accepted by the last search
    bool configRead = false;                            // its configuration read since
    RegisterWords heldRegisters;                        // the words it is known to hold, since it was found
    bool heldDescriptionSent = false;                   // its description came by an upload, table and all
    quint16 sentWord = 0;                               // of the register write under way
    std::optional<VerificationRecord> lastVerification; // of it
    qint32 sensorSerial = 0;                            // as the last configuration read gave it
    QAction *menuShowFlowTable = nullptr;
    QAction *menuExportFlowTable = nullptr;
    QAction *menuExportHistory = nullptr;
    QAction *menuSaveReport = nullptr;
    QPushButton *btnShowFlowTable = nullptr;

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
    QAction *menuVerifySensor;
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
    QLabel *labelLast;
    QLabel *Label4;
    QLabel *Label6;
    QGroupBox *groupHistory;
    QScrollArea *scrollGraphArea;
    QCheckBox *cbHead;
    QCheckBox *cbFlow;
    QPushButton *btnClearGraph;
    QLabel *labelHead;
    QLabel *labelMaxHead;
    QLabel *label1Head;
    QLabel *label2Head;
    QLabel *label3Head;
    QLabel *labelZeroHead;
    QLabel *labelValidHead;
    QLabel *labelGainHead;
    QLabel *labelFlow;
    QLabel *labelMaxFlow;
    QLabel *label1Flow;
    QLabel *label2Flow;
    QLabel *label3Flow;
    QLabel *labelZeroFlow;
    QLabel *labelValidFlow;
    QLabel *labelGainFlow;
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
    QLabel *labelChanType;
    QLabel *labelNotchAngle;
    QLabel *labelNotchUnits;
    QLabel *labelCrestHeight;
    QLabel *lableCrestHeightUnits;
    QLabel *labelChanWidth;
    QLabel *labelChanWidthUnits;
    QLabel *labelWidth;
    Shape *shapeWidthH;
    Shape *shapeWidthL;
    Shape *shapeWidthR;
    Shape *Shape1;
    Shape *Shape2;
    Shape *Shape3;

protected:
    void showEvent(QShowEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildForm();
    void buildMenus();
    void buildStatusStrip();
    void buildSensorPage();  // the Sensor Setup page's controls
    void buildChannelPage(); // the Channel Description page's controls
    bool shown = false;
    void echoToManualWindow(const char *bytes, qint32 count); // the bytes ReadPort took in
};

// Process-wide: the argument text after the program name, the main window, and the
// manual command window (null while it is closed).
extern QString commandLine;
extern QString commandLinePort; // "--port NAME": the one port the start-up search tries

// The command line split: "--port NAME" apart, the rest (the calling program's
// handle) as one text; error when --port has no value.
struct CommandLineChoice
{
    QString handleText;
    QString port;
    QString error;
};
CommandLineChoice ParseCommandLine(const QStringList &arguments);
// What a port name names: "COM<n>" for a COM port, the URL written the one way for a
// network port or the name of one in the list; empty with the reason in *error.
QString ResolvePortName(const QString &name, const QList<NetworkPortEntry> &networkPorts, QString *error);
extern TformMain *formMain;
extern TformManual *formManual;

// The quick-start guide in the application's data directory: the full path of the
// first "DOC-115-0001*.pdf" there, or empty.
QString FindGuide(const QString &directory);

// Application title and version.
extern const char *const applicationTitle;   // "EchoGauge Setup Application"
extern const char *const applicationVersion; // "V1.12"
