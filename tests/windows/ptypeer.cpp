// eg-ptypeer: the far end of a pseudo-terminal that a Wine COM port opens, for the
// Windows serial tests. It publishes the terminal as a link and answers lines:
//   ?        the line settings the terminal holds: "9600 8N2 crtscts=0 ixon=0 ixoff=0"
//   S<n>     n bytes "ABC...Z" "AB..." sent to the port
//   =<text>  the line sent back as it came
//   H        hang up: the terminal goes away as a pulled-out adapter does
// A pseudo-terminal carries bytes whatever its speed, so the answers arrive at any
// setting. Linux only; plain C++.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopping = 0;

void onSignal(int)
{
    stopping = 1;
}

std::string lineSettings(int fd)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return "unknown";
    struct
    {
        speed_t code;
        int baud;
    } const speeds[] = {{B1200, 1200},   {B2400, 2400},   {B4800, 4800},   {B9600, 9600},
                        {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}};
    int baud = 0;
    for (const auto &s : speeds)
        if (cfgetospeed(&t) == s.code)
            baud = s.baud;
    int bits = 8;
    switch (t.c_cflag & CSIZE) {
    case CS5:
        bits = 5;
        break;
    case CS6:
        bits = 6;
        break;
    case CS7:
        bits = 7;
        break;
    default:
        break;
    }
    const char parity = !(t.c_cflag & PARENB) ? 'N' : (t.c_cflag & PARODD) ? 'O' : 'E';
    char text[128];
    std::snprintf(text, sizeof text, "%d %d%c%d crtscts=%d ixon=%d ixoff=%d", baud, bits, parity,
                  (t.c_cflag & CSTOPB) ? 2 : 1, (t.c_cflag & CRTSCTS) ? 1 : 0, (t.c_iflag & IXON) ? 1 : 0,
                  (t.c_iflag & IXOFF) ? 1 : 0);
    return text;
}

bool send(int fd, const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno != EINTR && errno != EAGAIN)
            return false;
        if (n > 0)
            done += size_t(n);
        else
            usleep(1000);
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: eg-ptypeer LINK\n");
        return 2;
    }
    const std::string link = argv[1];
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || !ptsname(master)) {
        std::perror("eg-ptypeer: pseudo-terminal");
        return 1;
    }
    const std::string slave = ptsname(master);
    // Held open here too, so that the master does not read an error each time the
    // port is closed on the Windows side.
    const int held = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
    ::unlink(link.c_str());
    if (held < 0 || ::symlink(slave.c_str(), link.c_str()) != 0) {
        std::perror("eg-ptypeer: link");
        return 1;
    }
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    std::printf("eg-ptypeer: %s -> %s\n", link.c_str(), slave.c_str());
    std::fflush(stdout);

    std::string line;
    while (!stopping) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        char buffer[256];
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0)
            continue;
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] != '\n') {
                line += buffer[i];
                continue;
            }
            if (line == "?") {
                send(master, lineSettings(master) + "\n");
            } else if (line.size() > 1 && line[0] == 'S') {
                const int count = std::atoi(line.c_str() + 1);
                std::string bytes;
                for (int k = 0; k < count; ++k)
                    bytes += char('A' + k % 26);
                send(master, bytes);
            } else if (!line.empty() && line[0] == '=') {
                send(master, line + "\n");
            } else if (line == "H") {
                ::close(held);
                ::close(master);
                ::unlink(link.c_str());
                // Stays until told to go, so that the script decides when the
                // Windows side is stopped.
                while (!stopping)
                    pause();
                return 0;
            }
            line.clear();
        }
    }
    ::unlink(link.c_str());
    return 0;
}
