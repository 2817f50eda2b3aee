// The one file that includes the kernel's termios definitions (see detail/serial_termios.h).
#include "platform/detail/serial_termios.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace quelvan::platform::detail {

namespace {

int Ioctl(int Fd, unsigned long Request, void* Arg) {
    for (;;) {
        if (ioctl(Fd, Request, Arg) == 0) return 0;
        if (errno != EINTR) return errno;
    }
}

void SetRawFlags(termios2& T, bool MarkErrors, bool ParityCheck) {
    // No signals, echo, line editing, character translation or software flow control: the
    // line carries binary frames. VMIN 1 with the non-blocking descriptor makes an empty
    // read fail with EAGAIN, so that a read of 0 bytes means a hangup (with VMIN 0 the
    // kernel answers an empty read with 0 before it looks at O_NONBLOCK).
    T.c_iflag = MarkErrors ? PARMRK : 0;
    if (MarkErrors && ParityCheck) T.c_iflag |= INPCK;
    T.c_oflag = 0;
    T.c_lflag = 0;
    T.c_cflag |= CREAD | CLOCAL;
    T.c_cc[VMIN] = 1;
    T.c_cc[VTIME] = 0;
}

tcflag_t SizeFlag(uint8_t DataBits) {
    switch (DataBits) {
        case 5: return CS5;
        case 6: return CS6;
        case 7: return CS7;
        default: return CS8;
    }
}

constexpr tcflag_t kFramingMask = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;

std::string Describe(const termios2& T) {
    const tcflag_t size = T.c_cflag & CSIZE;
    const int bits = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
    const char parity = !(T.c_cflag & PARENB) ? 'N' : (T.c_cflag & PARODD) ? 'O' : 'E';
    std::string s = std::to_string(T.c_ospeed) + " " + std::to_string(bits) + parity +
                    ((T.c_cflag & CSTOPB) ? "2" : "1");
    if (T.c_cflag & CRTSCTS) s += " RTS/CTS";
    return s;
}

}  // namespace

int ApplyLineSettings(int Fd, const TLineSettings& Settings, bool Strict, std::string& Refused) {
    Refused.clear();
    termios2 t{};
    if (int e = Ioctl(Fd, TCGETS2, &t)) return e;
    SetRawFlags(t, true, Settings.ParityCheck);
    t.c_cflag &= ~(kFramingMask | CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= SizeFlag(Settings.DataBits) | BOTHER;
    if (Settings.Parity != TParityMode::None) t.c_cflag |= PARENB;
    if (Settings.Parity == TParityMode::Odd) t.c_cflag |= PARODD;
    if (Settings.StopBits == 2) t.c_cflag |= CSTOPB;
    if (Settings.Flow == TFlowMode::RtsCts) t.c_cflag |= CRTSCTS;
    t.c_ispeed = t.c_ospeed = Settings.BaudRate;
    if (int e = Ioctl(Fd, TCSETS2, &t)) return e;
    if (!Strict) return 0;

    // Drivers take what they can and report success; the read-back shows what they did.
    termios2 got{};
    if (int e = Ioctl(Fd, TCGETS2, &got)) return e;
    // A UART link tolerates a few percent of rate mismatch; a driver that fell back to
    // another rate is further off than that.
    const double rate = got.c_ospeed, want = Settings.BaudRate;
    const bool rateOk = rate >= want * 0.95 && rate <= want * 1.05;
    if ((got.c_cflag & kFramingMask) != (t.c_cflag & kFramingMask) || !rateOk) {
        Refused = "requested " + Describe(t) + ", the driver set " + Describe(got);
        return EINVAL;
    }
    return 0;
}

int MakeRaw(int Fd, bool MarkErrors) {
    termios2 t{};
    if (int e = Ioctl(Fd, TCGETS2, &t)) return e;
    SetRawFlags(t, MarkErrors, false);
    return Ioctl(Fd, TCSETS2, &t);
}

int FlushQueues(int Fd, bool Input, bool Output) {
    if (!Input && !Output) return 0;
    const long which = Input && Output ? TCIOFLUSH : Input ? TCIFLUSH : TCOFLUSH;
    for (;;) {
        if (ioctl(Fd, TCFLSH, which) == 0) return 0;
        if (errno != EINTR) return errno;
    }
}

int DrainOutput(int Fd) {
    // TCSBRK with a non-zero argument is tcdrain(): wait for the output, send no break.
    for (;;) {
        if (ioctl(Fd, TCSBRK, 1) == 0) return 0;
        if (errno != EINTR) return errno;
    }
}

}  // namespace quelvan::platform::detail
