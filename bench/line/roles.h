#pragma once
// The two child processes of the line benchmark. Each serves commands from its channel, one
// answer line per command, until the channel closes.
//
// Line:   greets with "<port A> <port B>" of its virtual null-modem, then
//         "pace <baud> <bits per char>" paces both directions (baud 0: no pacing).
// Server: a Quelvan server at address 1 on a connection in server mode, holding registers
//         0..65535 in an array;
//         "open <port> <rtu|ascii> <baud>" opens it (8E1 in RTU, 7E1 in ASCII),
//         "close" closes it,
//         "cpu" answers "<user+system ms> <voluntary switches> <involuntary switches>" of the
//         whole server process.

#include "os_process.h"
#include "workload.h"

namespace quelvan {
class TModbusConnection;
}

namespace quelvan::bench {

int RunLine(TCommandChannel& Channel);
int RunServer(TCommandChannel& Channel);

// Sets the line settings the benchmark uses for Line on a closed connection.
void ConfigureConnection(TModbusConnection& Connection, const TLine& Line);

}  // namespace quelvan::bench
