#pragma once

#include <QByteArray>

// How the request goes out on the line. Through a data logger a request starting
// with three full stops travels inside the logger's configuration command, which
// relays its contents to the sensor; anything else goes out as it stands.
QByteArray FrameCommand(const QByteArray &text, bool passthrough);

// Passes of the quiet-line wait before a request is given up: 2 s of a line that
// never falls silent for 100 ms means a device that talks on its own, and sending
// into that would only garble both.
constexpr int quietLinePassLimit = 20;
constexpr int quietLinePassMs = 100;
