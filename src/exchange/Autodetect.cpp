// The sensor search: every port at the enabled speeds, directly and through a data
// logger, probed with "...PDAC" until the sensor identifies itself.
#include "exchange/Autodetect.h"

#include "core/Timer.h"
#include "exchange/Firmware.h"
#include "exchange/Upgrade.h"

#include <QLabel>
#include <QScopeGuard>

namespace {
// The search leaves out Bluetooth serial ports and modems: a sensor is never reached
// through them, and opening one can stall while the radio looks for a partner.
constexpr quint32 searchExclusions = excludeBluetoothPort | excludeBluetoothModem;

constexpr qint32 directBaud = 9600;
const QByteArray identifyRequest = QByteArrayLiteral("...PDAC");
} // namespace

QList<_TAutoDetectArrayEntry> SearchCandidates(const PortList &ports, quint32 options,
                                               const _TAutoDetectArrayEntry &last)
{
    struct Pass
    {
        quint32 bit;
        qint32 baud;
        bool passthrough;
    };
    static const Pass passes[] = {
        {searchDirect9600, 9600, false},
        {searchPassthrough9600, 9600, true},
        {searchPassthrough19200, 19200, true},
        {searchPassthrough115200, 115200, true},
    };

    QList<_TAutoDetectArrayEntry> list;
    for (const Pass &pass : passes) {
        if (!(options & pass.bit))
            continue;
        for (const PortName &port : ports)
            list.append({qint16(port.number), port.name, pass.baud, pass.passthrough});
    }

    // The direct 9600 entries precede the passthrough ones, so a last connection at
    // 9600 ends with that port's direct candidate first and its passthrough one second,
    // whichever of the two was used: a sensor wired straight to the PC answers the
    // direct probe, and a logger at 9600 is tried next.
    for (int i = 0; i < list.size(); ++i) {
        const _TAutoDetectArrayEntry &c = list.at(i);
        if (c.portNumber != last.portNumber || c.baud != last.baud)
            continue;
        if (last.baud == directBaud) {
            const int to = c.passthrough ? qMin(1, int(list.size()) - 1) : 0;
            list.move(i, to);
        } else if (last.passthrough) {
            list.move(i, 0);
        }
    }
    return list;
}

QString SearchProbeText(const _TAutoDetectArrayEntry &candidate)
{
    QString text = QStringLiteral(" Searching for EchoGauge - ") + candidate.portName;
    if (candidate.passthrough)
        text += QStringLiteral(" - Passthrough mode, %1, ").arg(candidate.baud);
    return text;
}

PortList TformMain::SearchPorts()
{
    PortList ports;
    if (!searchOnlyPort.isEmpty()) {
        const int number = PortNumberForLinkName(searchOnlyPort);
        if (number > 0) {
            ports.append({QStringLiteral("COM%1").arg(number), number});
            return ports;
        }
        for (int i = 0; i < networkPorts.size(); ++i)
            if (networkPorts.at(i).url == searchOnlyPort)
                ports.append({searchOnlyPort, firstNetworkPortNumber + i});
        if (ports.isEmpty())
            ports.append({searchOnlyPort, firstNetworkPortNumber + maxNetworkPorts});
        return ports;
    }
    EnumeratePorts(&ports, searchExclusions, platform.serial);
    // The network ports follow the machine's own, in the order the user listed them.
    for (int i = 0; i < networkPorts.size() && i < maxNetworkPorts; ++i)
        ports.append({networkPorts.at(i).url, firstNetworkPortNumber + i});
    return ports;
}

void TformMain::menuSearchClick()
{
    StartSearch({sensorPort, sensorPortName, sensorBaud, sensorPassthrough});
}

void TformMain::StartSearch(const _TAutoDetectArrayEntry &last)
{
    EnableSensorControls(false);
    textSerial->hide();
    // What was known of the last sensor is not known of the one this search finds.
    sensorFound = false;
    configRead = false;
    heldRegisters.clear();
    heldDescriptionSent = false;
    lastVerification.reset();
    verifyingSensor = false;

    // The search takes over whatever exchange runs. A request still going out would
    // keep the scheduler waiting for a sender that can no longer write, so its
    // remaining characters are dropped with the port.
    ClosePort(&commPort);
    timerSlowTx->stop();
    txPending.clear();
    // A measurement it takes over will not end by itself, so its animation ends here.
    StopSoundWaves();

    *portNames = SearchPorts();

    qDeleteAll(*searchList);
    searchList->clear();
    refusedPorts.clear();
    searchPortsOpened = 0;
    for (const _TAutoDetectArrayEntry &c : SearchCandidates(*portNames, options, last))
        searchList->append(new _TAutoDetectArrayEntry(c));

    // With the attempts used up, the first tick opens the first candidate.
    searchIndex = -1;
    attempt = 3;
    enterFirstState(psSearch);
}

void TformMain::SearchTick()
{
    const TickTurn turn = beginWorkingTick();
    // The search's first tick has probed no candidate yet.
    if (turn != TickTurn::Send && searchIndex >= 0 && replyTakenOrAwaited(turn, takeIdentification()))
        return;

    if (nextAttempt()) {
        const _TAutoDetectArrayEntry *c = searchList->at(searchIndex);
        sendAttempt(SearchProbeText(*c), identifyRequest, c->passthrough,
                    c->passthrough ? probeTimeoutPassthrough : probeTimeoutDirect);
        return;
    }
    openNextSearchCandidate();
}

bool TformMain::takeIdentification()
{
    bool complete = false;
    const qint32 at = rxBuffer->Match(QByteArray(identificationPattern), '?', &complete);
    if (at < 0 || !complete)
        return false;
    const _TAutoDetectArrayEntry *found = searchList->at(searchIndex);
    sensorPortName = found->portName;
    sensorPort = found->portNumber;
    sensorBaud = found->baud;
    sensorPassthrough = found->passthrough;
    // The firmware check reads the version digits from here.
    rxBuffer->Skip(at + identificationPrefixLength);
    if (CheckFirmware()) {
        sensorFound = true;
        StartReadConfig();
    } else {
        ClosePort(&commPort);
        portState = psIdle;
    }
    return true;
}

// A port that stays silent at a speed has nothing there at that speed, in either
// mode, so its twin is skipped; a port that does not open is skipped entirely.
void TformMain::openNextSearchCandidate()
{
    if (searchIndex >= 0 && searchIndex < searchList->size() && rxBuffer->Count() == 0) {
        const _TAutoDetectArrayEntry *c = searchList->at(searchIndex);
        removeLaterCandidates(c->portNumber, c->baud, false);
    }
    ClosePort(&commPort);
    ++searchIndex;

    while (searchIndex < searchList->size() && !commPort.isOpen()) {
        const _TAutoDetectArrayEntry *c = searchList->at(searchIndex);
        QString text = QStringLiteral(" Searching for EchoGauge - ") + c->portName;
        if (c->passthrough)
            text += QStringLiteral(" - Passthrough mode");
        setStatusText(text);
        // Ports are addressed by one byte; a number beyond that is not reachable and
        // must not be folded onto another port. Network ports are opened by their URL.
        if (IsNetworkPortName(c->portName)) {
            OpenPortByName(&commPort, c->portName, c->baud);
        } else if (c->portNumber >= 0 && c->portNumber <= 255) {
            OpenPort(&commPort, quint8(c->portNumber), c->baud);
            // Only the error number is kept now; the search must not wait on the
            // system's tables while it runs.
            const PortRefusal refusal = RefusalForError(commPort.openError);
            if (!commPort.isOpen() && refusal != PortRefusal::None)
                refusedPorts.append({c->portName, commPort.openDevice, refusal});
        }
        if (commPort.isOpen()) {
            ++searchPortsOpened;
        } else {
            removeLaterCandidates(c->portNumber, c->baud, true);
            ++searchIndex;
        }
    }

    if (searchIndex < searchList->size()) {
        // Let the port and whatever hangs on it settle before the purge and the probe.
        portState = psSearchPrepare;
        timerPortService->setInterval(portSettleMs);
        timerPortService->start();
        return;
    }
    setStatusText(QStringLiteral(" EchoGauge not found!"));
    portState = psIdle;
    explainRefusedPorts();
}

// A port the user may not open, or one another program holds, looks to the search
// like a port that is not there. Once the search has ended without the sensor, the
// user is told which ports those were and what to do.
void TformMain::explainRefusedPorts()
{
#ifdef _WIN32
    // Windows names a port by its COM name alone, and does not tell who holds it.
    QList<RefusedPort> described = refusedPorts;
    for (RefusedPort &p : described)
        p.device.clear();
#else
    QList<RefusedPort> described;
    for (const RefusedPort &p : std::as_const(refusedPorts))
        described.append(DescribeRefusedPort(p));
#endif
    const QString text = RefusedPortsMessage(described);
    if (!text.isEmpty())
        platform.dialogs->message(this, text, Dialogs::Icon::Warning);
}

void TformMain::removeLaterCandidates(qint16 portNumber, qint32 baud, bool anyBaud)
{
    for (int i = searchList->size() - 1; i > searchIndex; --i) {
        _TAutoDetectArrayEntry *c = searchList->at(i);
        if (c->portNumber == portNumber && (anyBaud || c->baud == baud)) {
            searchList->removeAt(i);
            delete c;
        }
    }
}

// Runs once the sensor has identified itself, with the read position on the first
// version digit: decides whether the firmware can be used, and upgrades it from the
// newest update file when it must or can.
bool TformMain::CheckFirmware()
{
    const QByteArray majorText = rxBuffer->ReadString(2);
    rxBuffer->Skip(1); // the separator
    const QByteArray minorText = rxBuffer->ReadString(2);
    const FirmwareDigits digits = ParseFirmwareDigits(majorText, minorText);
    firmwareVersion = FirmwareVersionNumber(digits);

    firmwareCheckRunning = true;
    closedDuringFirmwareCheck = false;
    closeHeldForLoader = false;
    const auto checkEnded = qScopeGuard([this] { firmwareCheckRunning = false; });

    const UpdateFile update = FindUpdateFile(platform.dataDir);
    // The loader cannot reach a sensor behind a logger, nor one on a port that the
    // calling program opened for us, nor one behind a device server.
    const bool relayed = sensorPassthrough || commPort.attached || IsNetworkPortName(sensorPortName);
    const FirmwareDecision decision =
        DecideFirmware(FirmwareCheckValue(digits), firmwareVersion, update.version, relayed,
                       LoaderPresent(platform.dataDir));

    if (!decision.status.isEmpty())
        setStatusText(decision.status);
    if (!decision.box.isEmpty()) {
        platform.dialogs->message(this, decision.box, decision.icon);
        // The window was closed while the box was open (at log-out, say): nothing
        // more is started, least of all a flash.
        if (closedDuringFirmwareCheck)
            return false;
    }
    if (decision.next != FirmwareDecision::Upgrade)
        return decision.next == FirmwareDecision::Accept;
    if (confirmUpgrade && !confirmUpgrade()) {
        // Declined: usable firmware is used as it is; firmware below the minimum is not.
        const bool usable = FirmwareCheckValue(digits) >= minimumFirmware;
        setStatusText(usable ? QStringLiteral(" Firmware update not installed.")
                             : QStringLiteral(" EchoGauge firmware is out of date"));
        return usable;
    }

    const TLoaderResult result = RunLoader(update.path);
    const LoaderOutcome outcome = DescribeLoaderResult(result);
    setStatusText(outcome.status);
    if (outcome.accepted)
        firmwareVersion = update.version;
    // A request to quit during the flash is carried out now that the loader has ended
    // and the port is back, so that the settings stored name the sensor's port.
    if (closeHeldForLoader) {
        closeHeldForLoader = false;
        close();
    }
    if (!closedDuringFirmwareCheck)
        platform.dialogs->message(this, outcome.box, outcome.icon);
    return outcome.accepted && !closedDuringFirmwareCheck;
}
