// Line settings through termios2, which takes any speed (BOTHER). The kernel
// header it needs clashes with <termios.h>, so it lives alone here.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cerrno>
#include <cstdint>
#include <sys/ioctl.h>

namespace nxtka::platform::tty {

int getLine(int fd, std::uint32_t& baud, std::uint8_t& dataBits, std::uint8_t& parity, std::uint8_t& stopBits,
            bool& rtscts, bool& xonOut, bool& xonIn) {
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0) return errno;
    baud = t.c_ospeed;
    switch (t.c_cflag & CSIZE) {
    case CS5: dataBits = 5; break;
    case CS6: dataBits = 6; break;
    case CS7: dataBits = 7; break;
    default: dataBits = 8; break;
    }
    parity = (t.c_cflag & PARENB) == 0 ? 0 : (t.c_cflag & PARODD) != 0 ? 1 : 2;
    stopBits = (t.c_cflag & CSTOPB) != 0 ? 2 : 0;
    rtscts = (t.c_cflag & CRTSCTS) != 0;
    xonOut = (t.c_iflag & IXON) != 0;
    xonIn = (t.c_iflag & IXOFF) != 0;
    return 0;
}

// Raw 8N1, receiver on, modem control lines ignored for open and read; `baud`
// 0 keeps the current speed.
int setRaw(int fd, std::uint32_t baud, bool rtscts, bool xonOut, bool xonIn) {
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0) return errno;
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                        IXANY | INPCK | IUCLC | IMAXBEL);
    if (xonOut) t.c_iflag |= IXON;
    if (xonIn) t.c_iflag |= IXOFF;
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    if (rtscts) t.c_cflag |= CRTSCTS;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (baud != 0) {
        // Input speed follows the output speed when its field is zero.
        t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
        t.c_cflag |= BOTHER;
        t.c_ospeed = t.c_ispeed = baud;
    }
    if (ioctl(fd, TCSETS2, &t) != 0) return errno;
    return 0;
}

}  // namespace nxtka::platform::tty
