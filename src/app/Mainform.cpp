#include "app/Mainform.h"

#include <cstdio>

#include "app/Manualentry.h"
#include "core/Timer.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include <cstdlib>
#include <limits>
#include <new>

QString commandLine;
QString commandLinePort;
TformMain *formMain = nullptr;
TformManual *formManual = nullptr;

const char *const applicationTitle = "EchoGauge Setup Application";
const char *const applicationVersion = "V1.12";

TformMain::TformMain(const Platform &platform, QWidget *parent)
    : QMainWindow(parent), platform(platform), commPort(platform.serial)
{
    timerRxLed = new Timer(platform.clock, 50, this);
    timerTxLed = new Timer(platform.clock, 50, this);
    timerPortService = new Timer(platform.clock, 50, this);
    timerSlowTx = new Timer(platform.clock, 20, this);
    timerSonar = new Timer(platform.clock, 15, this);
    connect(timerRxLed, &Timer::timeout, this, &TformMain::timerRxLedTimer);
    connect(timerTxLed, &Timer::timeout, this, &TformMain::timerTxLedTimer);
    connect(timerPortService, &Timer::timeout, this, &TformMain::timerPortServiceTimer);
    connect(timerSlowTx, &Timer::timeout, this, &TformMain::timerSlowTxTimer);

    setFont(windowFont());
    buildForm();
    updateMinimumSize();

    try {
        rxBuffer = new TRingBuffer(32768, true);
        portNames = new PortList;
        searchList = new QList<_TAutoDetectArrayEntry *>;
    } catch (const std::bad_alloc &) {
        platform.dialogs->message(
            this,
            QStringLiteral("A fatal memory-allocation error has occurred.\nThis program will now close."),
            Dialogs::Icon::Error);
        std::exit(EXIT_FAILURE);
    }
    portState = psIdle;
    formManual = nullptr;
    pageControl->setCurrentWidget(tabSensor);

    // The channel page's sensor picture stands where the sensor page's does.
    Shape *const sensorShapes[4] = {shapeEchoGauge1, shapeEchoGauge2, shapeEchoGauge3, shapeEchoGauge4};
    Shape *const channelShapes[4] = {shapeEchoGauge5, shapeEchoGauge6, shapeEchoGauge7, shapeEchoGauge8};
    for (int i = 0; i < 4; ++i)
        channelShapes[i]->move(sensorShapes[i]->pos());

    // Key preview: the window sees typed keys before the focused control does.
    qApp->installEventFilter(this);

    setWindowTitle(QStringLiteral("  %1 - %2").arg(applicationTitle, applicationVersion));
}

TformMain::~TformMain()
{
    qApp->removeEventFilter(this);
    FormDestroy();
    // commPort closes the port it opened itself; one adopted from whoever started us
    // is theirs.
    if (formMain == this)
        formMain = nullptr;
}

void TformMain::buildForm()
{
    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    pageControl = new QTabWidget(central);
    tabSensor = new QWidget;
    tabChannel = new QWidget;
    pageControl->addTab(tabSensor, QStringLiteral("  Sensor Setup  "));
    pageControl->addTab(tabChannel, QStringLiteral("  Channel Description  "));
    layout->addWidget(pageControl, 1);

    buildStatusStrip();
    layout->addWidget(Panel1);
    setCentralWidget(central);

    buildMenus();
    buildSensorPage();
    buildChannelPage();
    buildMeasurement();
    buildSiteRecord();
}

void TformMain::buildStatusStrip()
{
    Panel1 = new QWidget;
    Panel1->setFixedHeight(24);
    auto *row = new QHBoxLayout(Panel1);
    row->setContentsMargins(4, 0, 0, 0);
    row->setSpacing(4);
    QFont bold = font();
    bold.setBold(true);
    auto *labelRx = new QLabel(QStringLiteral("Rx"));
    labelRx->setFont(bold);
    ledRx = new Shape(Shape::Circle);
    ledRx->setFixedSize(13, 13);
    ledRx->setBrushColor(winColor(16384));
    ledRx->setToolTip(QStringLiteral("This LED will flash when Bluetooth data is received"));
    auto *labelTx = new QLabel(QStringLiteral("Tx"));
    labelTx->setFont(bold);
    ledTx = new Shape(Shape::Circle);
    ledTx->setFixedSize(13, 13);
    ledTx->setBrushColor(winColor(81));
    ledTx->setToolTip(QStringLiteral("This LED will flash when Bluetooth data is transmitted"));
    statusBar = new QStatusBar;
    statusBar->setSizeGripEnabled(false);
    QFont tahoma(QStringLiteral("Tahoma"));
    tahoma.setPixelSize(11);
    statusBar->setFont(tahoma);
    row->addWidget(labelRx);
    row->addWidget(ledRx);
    row->addWidget(labelTx);
    row->addWidget(ledTx);
    row->addWidget(statusBar, 1);
}

void TformMain::buildMenus()
{
    menuFile = menuBar()->addMenu(QStringLiteral("File"));
    menuLoadChannel = menuFile->addAction(QStringLiteral("Load Channel Description ..."));
    menuSaveChannel = menuFile->addAction(QStringLiteral("Save Channel Description ..."));
    menuFile->addSeparator();
    menuOptions = menuFile->addAction(QStringLiteral("Options ..."));
    menuFile->addSeparator();
    menuExit = menuFile->addAction(QStringLiteral("Exit"));

    menuEchoGauge = menuBar()->addMenu(QStringLiteral("EchoGauge"));
    menuSearch = menuEchoGauge->addAction(QStringLiteral("Search for EchoGauge"));
    menuReadHeight = menuEchoGauge->addAction(QStringLiteral("Read Sensor Config"));
    menuVerifySensor = menuEchoGauge->addAction(QStringLiteral("Verify Sensor"));
    menuVerifySensor->setEnabled(false); // until a sensor is found
    menuSetHeight = menuEchoGauge->addAction(QStringLiteral("Set Sensor Height"));
    menuMeasure = menuEchoGauge->addAction(QStringLiteral("Take Measurement"));
    menuMeasure->setEnabled(false);
    menuSetup = menuEchoGauge->addAction(QStringLiteral("Advanced Setup"));
    menuSetup->setVisible(false);
    menuManualEntry = menuEchoGauge->addAction(QStringLiteral("Manual Command Entry"));
    menuManualEntry->setCheckable(true);
    menuManualEntry->setVisible(false);

    menuDisplay = menuBar()->addMenu(QStringLiteral("Display"));
    menuMetric = menuDisplay->addAction(QStringLiteral("Metric (metres)"));
    menuMetric->setCheckable(true);
    menuMetric->setChecked(true);
    menuImperial = menuDisplay->addAction(QStringLiteral("Imperial (feet / inches)"));
    menuImperial->setCheckable(true);
    menuImperial->setEnabled(false);
    menuDisplay->menuAction()->setVisible(false);

    menuHelp = menuBar()->addMenu(QStringLiteral("Help"));
    menuShowGuide = menuHelp->addAction(QStringLiteral("Show Quick-Start Guide ..."));
    menuHelp->addSeparator();
    menuAbout = menuHelp->addAction(QStringLiteral("About EchoGauge Setup ..."));

    connect(menuOptions, &QAction::triggered, this, &TformMain::menuOptionsClick);
    connect(menuExit, &QAction::triggered, this, &TformMain::menuExitClick);
    connect(menuSearch, &QAction::triggered, this, &TformMain::menuSearchClick);
    connect(menuReadHeight, &QAction::triggered, this, &TformMain::StartReadConfig);
    connect(menuVerifySensor, &QAction::triggered, this, &TformMain::menuVerifySensorClick);
    connect(menuSetHeight, &QAction::triggered, this, &TformMain::StartWriteConfig);
    connect(menuMeasure, &QAction::triggered, this, &TformMain::menuMeasureClick);
    connect(menuManualEntry, &QAction::triggered, this, &TformMain::menuManualEntryClick);
    connect(menuShowGuide, &QAction::triggered, this, &TformMain::menuShowGuideClick);
    connect(menuAbout, &QAction::triggered, this, &TformMain::menuAboutClick);
}

void TformMain::setStatusText(const QString &text)
{
    statusBar->showMessage(text);
    if (statusTextHook)
        statusTextHook(text);
    // Lets an end-to-end run follow the exchanges without a screen.
    static const bool trace = qEnvironmentVariableIntValue("ECHOGAUGE_TRACE_STATUS") == 1;
    if (trace)
        fprintf(stderr, "status: %s\n", text.toLocal8Bit().constData());
}

QString TformMain::statusText() const
{
    return statusBar->currentMessage();
}

void TformMain::appendStatusText(const QString &more)
{
    statusBar->showMessage(statusBar->currentMessage() + more);
}

void TformMain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!shown) {
        shown = true;
        FormShow();
    }
    updateMinimumSize();
}

void TformMain::moveEvent(QMoveEvent *event)
{
    QMainWindow::moveEvent(event);
    updateMinimumSize();
}

void TformMain::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    if (size() != minimumSize())
        atStartSize = false;
}

void TformMain::closeEvent(QCloseEvent *event)
{
    if (firmwareCheckRunning)
        closedDuringFirmwareCheck = true;
    FormClose();
    event->accept();
}

void TformMain::keyPressEvent(QKeyEvent *event)
{
    // Typed keys reach FormKeyPress through eventFilter already.
    QMainWindow::keyPressEvent(event);
}

bool TformMain::eventFilter(QObject *watched, QEvent *event)
{
    // A key event travels from the focused widget up to its parents; it is taken once,
    // where it first arrives, and never consumed.
    if (event->type() == QEvent::KeyPress) {
        auto *w = qobject_cast<QWidget *>(watched);
        QWidget *first = QApplication::focusWidget() ? QApplication::focusWidget() : this;
        if (w && w == first && w->window() == this) {
            const QString text = static_cast<QKeyEvent *>(event)->text();
            for (QChar c : text)
                FormKeyPress(c);
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TformMain::FormShow()
{
    sensorPort = -1;
    updateMinimumSize();
    resize(minimumSize());
    atStartSize = true;
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x() + area.width() / 2 - width() / 2, area.y() + area.height() / 2 - height() / 2);
    }
    notchAngle = 90;
    crestHeight = 1000;
    channelWidth = 1000;
    notchWidth = 500;
    flowExponent = 0;
    options = 7;
    maxHeightPercent = 10;

    LoadSettings();

    bool isNumber = false;
    const qint64 handle = commandLine.trimmed().toLongLong(&isNumber);
    if (!commandLine.isEmpty() && isNumber && handle >= 0 && handle <= std::numeric_limits<int>::max())
        AttachPort(&commPort, PortHandle(handle));

    if (!commandLinePort.isEmpty()) {
        QString error;
        searchOnlyPort = ResolvePortName(commandLinePort, networkPorts, &error);
        if (searchOnlyPort.isEmpty())
            platform.dialogs->message(this, error, Dialogs::Icon::Warning);
    }

    if (options & 0x10) {
        menuManualEntry->setVisible(true);
        setWindowTitle(
            QStringLiteral("  %1 - %2 (Engineering Mode)").arg(applicationTitle, applicationVersion));
    }
    cbHead->setChecked(options & 0x40);

    guideFileName = FindGuide(platform.dataDir);
    menuShowGuide->setVisible(!guideFileName.isEmpty());

    trackSensorHeight->setValue(0);

    cbFlow->setChecked(false);
    cbFlow->setEnabled(false);
    cbHead->setChecked(true);
    cbHead->setEnabled(false);

    headAxisMax = 0;
    flowAxisMax = 0;

    editCrestHeight->setText(QString::number(crestHeight * 0.001, 'f', 3));
    editChanWidth->setText(QString::number(channelWidth * 0.001, 'f', 3));
    editNotchWidth->setText(QString::number(notchWidth * 0.001, 'f', 3));

    SetupNotchWidthTrackBar();
    cbChanType->setCurrentIndex(0);
    ShowChannelControls();
    markChannelChanged(false);

    // A port asked for that names nothing is not taken for every port.
    if (commandLinePort.isEmpty() || !searchOnlyPort.isEmpty())
        menuSearchClick();
}

CommandLineChoice ParseCommandLine(const QStringList &arguments)
{
    CommandLineChoice choice;
    QStringList rest;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        if (a == QLatin1String("--port")) {
            if (i + 1 >= arguments.size() || arguments.at(i + 1).trimmed().isEmpty()) {
                choice.error = QStringLiteral("--port needs a port: COM<n>, a network port's URL or name.");
                continue;
            }
            choice.port = arguments.at(++i).trimmed();
        } else if (a.startsWith(QLatin1String("--port="))) {
            choice.port = a.mid(7).trimmed();
        } else {
            rest << a;
        }
    }
    choice.handleText = rest.join(QLatin1Char(' '));
    return choice;
}

QString ResolvePortName(const QString &name, const QList<NetworkPortEntry> &networkPorts, QString *error)
{
    const int number = PortNumberForLinkName(name);
    if (number >= 1 && number <= 255)
        return QStringLiteral("COM%1").arg(number);
    if (IsNetworkPortName(name)) {
        QString why;
        const auto url = ParseNetworkPortUrl(name, &why);
        if (url)
            return url->text();
        *error = QStringLiteral("\"%1\" is no network port: %2.").arg(name, why);
        return QString();
    }
    for (const NetworkPortEntry &e : networkPorts)
        if (e.name.compare(name, Qt::CaseInsensitive) == 0)
            return e.url;
    *error = QStringLiteral("\"%1\" names no port: give COM<n> (1 to 255), rfc2217://HOST:PORT, "
                            "tcp://HOST:PORT, or the name of a network port in Options.")
                 .arg(name);
    return QString();
}

QString FindGuide(const QString &directory)
{
    if (directory.isEmpty())
        return QString();
    const QDir dir(directory);
    const QStringList found = dir.entryList({QStringLiteral("DOC-115-0001*.pdf")},
                                            QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    return found.isEmpty() ? QString() : dir.absoluteFilePath(found.first());
}

void TformMain::FormClose()
{
    // The manual command window goes first: it stores its own settings and its
    // "always show" choice, which the main window's settings then carry.
    if (formManual)
        formManual->close();
    StoreSettings();
}

void TformMain::FormDestroy()
{
    delete rxBuffer;
    rxBuffer = nullptr;
    delete portNames;
    portNames = nullptr;
    delete historyEntries;
    historyEntries = nullptr;
    if (searchList) {
        qDeleteAll(*searchList);
        delete searchList;
        searchList = nullptr;
    }
}

void TformMain::menuExitClick()
{
    close();
}

void TformMain::menuShowGuideClick()
{
    QString problem;
    if (guideFileName.isEmpty()) {
        problem = QStringLiteral("Quick-Start Guide Not Found");
    } else {
        bool noViewer = false;
        if (!platform.dialogs->openDocument(guideFileName, &noViewer)) {
            problem = QStringLiteral("The Quick-Start Guide cannot be shown.");
            if (noViewer)
                problem += QStringLiteral("\nNo PDF viewer is installed.");
        }
    }
    if (problem.isEmpty())
        return;
    setStatusText(QLatin1Char(' ') + problem);
    platform.dialogs->message(this, problem, Dialogs::Icon::Error);
    menuShowGuide->setVisible(false);
}

void TformMain::pbSensorMouseEnter()
{
    keyCapture = true;
    keyBuffer.clear();
}

void TformMain::pbSensorMouseLeave()
{
    keyCapture = false;
}

void TformMain::FormKeyPress(QChar key)
{
    if (!keyCapture)
        return;
    keyBuffer.append(key);
    if (keyBuffer.compare(QLatin1String("QXV47215"), Qt::CaseInsensitive) == 0) {
        setWindowTitle(
            QStringLiteral("  %1 - %2 (Engineering Mode)").arg(applicationTitle, applicationVersion));
        menuManualEntry->setVisible(true);
        keyBuffer.clear();
    }
}
