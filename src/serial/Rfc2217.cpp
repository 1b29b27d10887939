// The Telnet and Com Port Control framing, both ways.
#include "serial/Rfc2217.h"

using namespace telnet;

namespace {

QByteArray command(quint8 verb, quint8 option)
{
    QByteArray out;
    out.append(char(IAC)).append(char(verb)).append(char(option));
    return out;
}

} // namespace

int Rfc2217Codec::index(quint8 option)
{
    switch (option) {
    case optBinary:
        return 0;
    case optSuppressGoAhead:
        return 1;
    case optComPort:
        return 2;
    default:
        return -1;
    }
}

QByteArray Rfc2217Codec::start()
{
    QByteArray out;
    for (quint8 option : {optBinary, optSuppressGoAhead}) {
        us[index(option)].asked = true;
        him[index(option)].asked = true;
        out += command(WILL, option) + command(DO, option);
    }
    us[index(optComPort)].asked = true;
    comPortState = ComPort::Asked;
    out += command(WILL, optComPort);
    return out;
}

// Each side of each option is either on or off; an answer is sent only for a change
// the server asked for, never for one it confirms, so that two peers cannot keep
// answering each other.
void Rfc2217Codec::negotiate(quint8 verbByte, quint8 option, QByteArray *answer)
{
    const int i = index(option);
    const bool wanted = i >= 0;
    switch (verbByte) {
    case WILL: // the server offers to do something
        if (!wanted || option == optComPort) {
            *answer += command(DONT, option);
            return;
        }
        if (!him[i].enabled && !him[i].asked)
            *answer += command(DO, option);
        him[i] = {true, false};
        return;
    case WONT:
        if (!wanted || option == optComPort)
            return;
        if (him[i].enabled && !him[i].asked)
            *answer += command(DONT, option);
        him[i] = {false, false};
        return;
    case DO: // the server asks us to do something
        if (!wanted) {
            *answer += command(WONT, option);
            return;
        }
        if (!us[i].enabled && !us[i].asked)
            *answer += command(WILL, option);
        us[i] = {true, false};
        if (option == optComPort)
            comPortState = ComPort::Accepted;
        return;
    case DONT:
        if (!wanted)
            return;
        if (us[i].enabled && !us[i].asked)
            *answer += command(WONT, option);
        us[i] = {false, false};
        if (option == optComPort)
            comPortState = ComPort::Refused;
        return;
    default:
        return;
    }
}

void Rfc2217Codec::subnegotiation()
{
    // Line and modem state notices, flow-control notices and the signature are
    // taken and not acted on: the sensor's exchanges look at the data alone.
    if (sbOption != optComPort || sb.isEmpty())
        return;
    const quint8 code = quint8(sb.at(0));
    if (code == cpServerOffset + cpSetBaudRate && sb.size() == 5) {
        confirmed = (quint32(quint8(sb.at(1))) << 24) | (quint32(quint8(sb.at(2))) << 16) |
                    (quint32(quint8(sb.at(3))) << 8) | quint32(quint8(sb.at(4)));
        ++confirmations;
    }
}

void Rfc2217Codec::dataByte(char byte, QByteArray *data)
{
    data->append(byte);
    // Without binary, a server sends a carriage return as CR NUL.
    state = (byte == '\r' && !him[0].enabled) ? State::AfterCr : State::Data;
}

QByteArray Rfc2217Codec::feed(const char *bytes, qsizetype count, QByteArray *data)
{
    QByteArray answer;
    for (qsizetype k = 0; k < count; ++k) {
        const quint8 b = quint8(bytes[k]);
        switch (state) {
        case State::AfterCr:
            state = State::Data;
            if (b == 0)
                break;
            [[fallthrough]];
        case State::Data:
            if (b == IAC)
                state = State::Iac;
            else
                dataByte(char(b), data);
            break;
        case State::Iac:
            if (b == IAC) {
                dataByte(char(IAC), data);
            } else if (b >= WILL) {
                verb = b;
                state = State::Verb;
            } else if (b == SB) {
                state = State::SbOption;
            } else {
                state = State::Data; // NOP, GA, BRK, a stray SE: nothing to do
            }
            break;
        case State::Verb:
            negotiate(verb, b, &answer);
            state = State::Data;
            break;
        case State::SbOption:
            sbOption = b;
            sb.clear();
            sbOverflow = false;
            state = State::SbData;
            break;
        case State::SbData:
            if (b == IAC) {
                state = State::SbIac;
            } else if (sb.size() < maxSubnegotiation) {
                sb.append(char(b));
            } else {
                sbOverflow = true;
            }
            break;
        case State::SbIac:
            if (b == SE) {
                if (!sbOverflow)
                    subnegotiation();
                sb.clear();
                state = State::Data;
            } else {
                // IAC IAC is a 255 in the value; anything else after IAC inside a
                // subnegotiation is malformed and taken as a value byte too.
                if (sb.size() < maxSubnegotiation)
                    sb.append(char(b));
                else
                    sbOverflow = true;
                state = State::SbData;
            }
            break;
        }
    }
    return answer;
}

QByteArray Rfc2217Codec::encodeData(const char *bytes, qsizetype count) const
{
    QByteArray out;
    out.reserve(count);
    for (qsizetype k = 0; k < count; ++k) {
        const char c = bytes[k];
        out.append(c);
        if (quint8(c) == IAC)
            out.append(c);
        else if (c == '\r' && !us[0].enabled)
            out.append('\0');
    }
    return out;
}

QByteArray Rfc2217Codec::comPortCommand(quint8 code, const QByteArray &value)
{
    QByteArray out;
    out.append(char(IAC)).append(char(SB)).append(char(optComPort)).append(char(code));
    for (const char c : value) {
        out.append(c);
        if (quint8(c) == IAC)
            out.append(c);
    }
    out.append(char(IAC)).append(char(SE));
    return out;
}

QByteArray Rfc2217Codec::lineRequests(const ComPortLine &line)
{
    QByteArray baud(4, '\0');
    for (int i = 0; i < 4; ++i)
        baud[i] = char(line.baud >> (24 - 8 * i));
    return comPortCommand(cpSetBaudRate, baud) +
           comPortCommand(cpSetDataSize, QByteArray(1, char(line.dataSize))) +
           comPortCommand(cpSetParity, QByteArray(1, char(line.parity))) +
           comPortCommand(cpSetStopSize, QByteArray(1, char(line.stopSize))) +
           comPortCommand(cpSetControl, QByteArray(1, char(line.flowControl)));
}

QByteArray Rfc2217Codec::modemLinesRequest()
{
    return comPortCommand(cpSetControl, QByteArray(1, char(controlDtrOn))) +
           comPortCommand(cpSetControl, QByteArray(1, char(controlRtsOn)));
}

QByteArray Rfc2217Codec::purgeRequest()
{
    return comPortCommand(cpPurgeData, QByteArray(1, char(purgeReceive)));
}
