#include "app/Mainform.h"

#include "core/Timer.h"

#include <QAction>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>

QString commandLine;
TformMain *formMain = nullptr;
TformManual *formManual = nullptr;

const char *const applicationTitle = "EchoGauge Setup Application";
const char *const applicationVersion = "V1.12";

TformMain::TformMain(const Platform &platform, QWidget *parent)
    : QMainWindow(parent), platform(platform),
#ifdef _WIN32
      commPort()
#else
      commPort(platform.serial)
#endif
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

    buildForm();

    rxBuffer = new TRingBuffer(32768, true);
    portNames = new PortList;
    searchList = new QList<_TAutoDetectArrayEntry *>;
    portState = psIdle;
    formManual = nullptr;
    pageControl->setCurrentWidget(tabSensor);

    setWindowTitle(QStringLiteral("  %1 - %2").arg(applicationTitle, applicationVersion));
}

TformMain::~TformMain()
{
    FormDestroy();
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
    connect(menuSetHeight, &QAction::triggered, this, &TformMain::StartWriteConfig);
    connect(menuMeasure, &QAction::triggered, this, [this] { StartMeasurement(false); });
    connect(menuManualEntry, &QAction::triggered, this, &TformMain::menuManualEntryClick);
    connect(menuShowGuide, &QAction::triggered, this, &TformMain::menuShowGuideClick);
    connect(menuAbout, &QAction::triggered, this, &TformMain::menuAboutClick);
}

void TformMain::setStatusText(const QString &text)
{
    statusBar->showMessage(text);
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
}

void TformMain::closeEvent(QCloseEvent *event)
{
    FormClose();
    event->accept();
}

void TformMain::keyPressEvent(QKeyEvent *event)
{
    if (!event->text().isEmpty())
        FormKeyPress(event->text().at(0));
    QMainWindow::keyPressEvent(event);
}
