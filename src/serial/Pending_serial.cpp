// Placeholders until the serial link is built; each goes as its real definition lands.
#include "app/Mainform.h"

bool TformMain::SendCommand(const QByteArray &, bool) { return false; }
void TformMain::ReadPort() {}
bool TformMain::PurgeReceive() { return false; }
void TformMain::timerSlowTxTimer() {}
void TformMain::timerTxLedTimer() {}
void TformMain::timerRxLedTimer() {}

TRingBuffer::TRingBuffer(qint32 size, bool overwrite) : size(size), storage(new quint8[size + 1]), overwrite(overwrite) {}
TRingBuffer::~TRingBuffer() { delete[] storage; }

COMMPORT::COMMPORT(SerialDriver *driver) : driver(driver) {}
COMMPORT::~COMMPORT() {}

SerialDriver *SerialDriver::system() { return nullptr; }
