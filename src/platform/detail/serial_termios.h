#pragma once
// Line settings through the termios2 ioctls (TCGETS2/TCSETS2), which carry any baud rate
// (BOTHER) and bypass the C library's termios wrappers. The kernel's termios2 and glibc's
// <termios.h> define the same struct names, so only serial_termios.cpp includes the kernel
// header; callers see plain types. Every function returns 0 or an errno value, EINTR
// already retried.

#include <string>

#include "platform/serial_device.h"

namespace quelvan::platform::detail {

// Raw mode with the given framing, speed and handshake. The receiver marks line errors in
// band (PARMRK: a data 0xFF reads as FF FF, a break as FF 00 00, a character with a parity
// or framing error as FF 00 c); parity and framing errors are checked only with
// Settings.ParityCheck. With Strict, the settings are read back and a driver that dropped
// or changed any of them gives EINVAL and a description in Refused.
int ApplyLineSettings(int Fd, const TLineSettings& Settings, bool Strict, std::string& Refused);

// Raw mode keeping the device's current speed and framing. MarkErrors as above.
int MakeRaw(int Fd, bool MarkErrors);

// Discards received and/or unsent bytes held by the kernel.
int FlushQueues(int Fd, bool Input, bool Output);

// Blocks until the kernel has sent every written byte (the driver bounds the wait for the
// UART's own FIFO).
int DrainOutput(int Fd);

}  // namespace quelvan::platform::detail
