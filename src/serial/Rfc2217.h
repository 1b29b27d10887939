#pragma once

// The Telnet framing of a serial device server that speaks the Com Port Control
// option: the bytes a server sends are taken apart into the device's data and the
// server's commands, and the client's data and line settings are put into the
// same framing. Plain code with no socket, so that every byte a server can send is
// parsed here and nowhere else.

#include <QByteArray>
#include <QtGlobal>

namespace telnet {
constexpr quint8 SE = 240;
constexpr quint8 NOP = 241;
constexpr quint8 SB = 250;
constexpr quint8 WILL = 251;
constexpr quint8 WONT = 252;
constexpr quint8 DO = 253;
constexpr quint8 DONT = 254;
constexpr quint8 IAC = 255;

constexpr quint8 optBinary = 0;
constexpr quint8 optEcho = 1;
constexpr quint8 optSuppressGoAhead = 3;
constexpr quint8 optComPort = 44;

// Com Port Control commands as the client sends them; the server answers each
// with the same number plus 100.
constexpr quint8 cpSignature = 0;
constexpr quint8 cpSetBaudRate = 1;
constexpr quint8 cpSetDataSize = 2;
constexpr quint8 cpSetParity = 3;
constexpr quint8 cpSetStopSize = 4;
constexpr quint8 cpSetControl = 5;
constexpr quint8 cpNotifyLineState = 6;
constexpr quint8 cpNotifyModemState = 7;
constexpr quint8 cpPurgeData = 12;
constexpr quint8 cpServerOffset = 100;

constexpr quint8 parityNone = 1;
constexpr quint8 parityOdd = 2;
constexpr quint8 parityEven = 3;
constexpr quint8 controlNoFlow = 1;
constexpr quint8 controlSoftwareFlow = 2;
constexpr quint8 controlHardwareFlow = 3;
constexpr quint8 controlDtrOn = 8;
constexpr quint8 controlRtsOn = 11;
constexpr quint8 purgeReceive = 1; // what the server holds from the device
} // namespace telnet

// A serial line as the Com Port Control option sets it.
struct ComPortLine
{
    quint32 baud = 9600;
    quint8 dataSize = 8;
    quint8 parity = telnet::parityNone;
    quint8 stopSize = 2;
    quint8 flowControl = telnet::controlNoFlow;
};

class Rfc2217Codec
{
public:
    // The most a subnegotiation may hold; the longest the client takes is a
    // server's signature text. A longer one is read to its end and dropped.
    static constexpr int maxSubnegotiation = 256;

    enum class ComPort
    {
        Asked,    // requested, no answer yet
        Accepted, // the server takes line settings
        Refused,  // the server passes bytes only: its own line settings apply
    };

    // What the client says first: binary both ways, no go-ahead, and the Com Port
    // Control option.
    QByteArray start();

    // Takes bytes as they arrived from the server (a command may be split across
    // calls). The device's data is appended to data, the answers owed to the
    // server are returned.
    QByteArray feed(const char *bytes, qsizetype count, QByteArray *data);

    // The device's data as it goes to the server: IAC doubled, and a carriage
    // return followed by NUL while the server has not agreed to binary.
    QByteArray encodeData(const char *bytes, qsizetype count) const;

    // The line settings: speed, data size, parity, stop size and flow control.
    static QByteArray lineRequests(const ComPortLine &line);
    // DTR and RTS raised.
    static QByteArray modemLinesRequest();
    // The server drops what it holds from the device.
    static QByteArray purgeRequest();
    // One Com Port Control command with its value, IAC doubled in the value.
    static QByteArray comPortCommand(quint8 command, const QByteArray &value);

    ComPort comPort() const { return comPortState; }
    // Answers to SET-BAUDRATE so far, and the speed the last one confirmed.
    quint32 baudConfirmations() const { return confirmations; }
    quint32 confirmedBaud() const { return confirmed; }
    bool binaryToServer() const { return us[0].enabled; }
    bool binaryFromServer() const { return him[0].enabled; }

private:
    enum class State
    {
        Data,
        Iac,
        Verb,
        SbOption,
        SbData,
        SbIac,
        AfterCr,
    };
    struct Side
    {
        bool enabled = false;
        bool asked = false;
    };
    // The options the client wants: BINARY, SUPPRESS-GO-AHEAD, and (our side only)
    // COM-PORT-OPTION. Every other one is refused.
    static int index(quint8 option);
    void negotiate(quint8 verb, quint8 option, QByteArray *answer);
    void subnegotiation();
    void dataByte(char byte, QByteArray *data);

    State state = State::Data;
    quint8 verb = 0;
    quint8 sbOption = 0;
    QByteArray sb;
    bool sbOverflow = false;
    Side us[3];
    Side him[3];
    ComPort comPortState = ComPort::Asked;
    quint32 confirmations = 0;
    quint32 confirmed = 0;
};
