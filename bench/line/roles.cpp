#include "roles.h"

#include <array>
#include <chrono>
#include <deque>
#include <mutex>
#include <sstream>
#include <thread>

#include "heap_count.h"
#include "platform/virtual_null_modem.h"
#include "quelvan/quelvan.h"

namespace quelvan::bench {

void ConfigureConnection(TModbusConnection& Connection, const TLine& Line) {
    Connection.SetTransmissionMode(Line.Mode);
    switch (Line.NominalBaud()) {
    case 9600: Connection.SetBaudRate(br9600); break;
    case 19200: Connection.SetBaudRate(br19200); break;
    case 115200: Connection.SetBaudRate(br115200); break;
    default: Connection.SetCustomBaudRate(Line.NominalBaud()); break;
    }
    Connection.SetDataBits(Line.Mode == tmRTU ? db8 : db7);
    Connection.SetParity(psEven);
    Connection.SetStopBits(sb1);
}

int RunLine(TCommandChannel& Channel) {
    UseFineTimerSlack();  // before the relay thread starts: it inherits the slack
    platform::TVirtualNullModem modem;
    Channel.WriteLine(modem.PortA() + " " + modem.PortB());
    std::string line;
    while (Channel.ReadLine(line)) {
        std::istringstream in(line);
        std::string verb;
        uint32_t baud = 0, bits = 10;
        in >> verb >> baud >> bits;
        if (verb != "pace") {
            Channel.WriteLine("error unknown command");
            continue;
        }
        platform::TRelayControls c;
        c.BaudRate = baud;
        c.BitsPerChar = static_cast<uint8_t>(bits);
        modem.SetControls(platform::TNullModemSide::A, c);
        modem.SetControls(platform::TNullModemSide::B, c);
        Channel.WriteLine("ok");
    }
    return 0;
}

namespace {

// Commands read by a thread of their own, so that the main thread can pump Quelvan's
// messages and still be told, without polling, that a command arrived.
class TCommandReader {
public:
    explicit TCommandReader(TCommandChannel& Channel) : channel_(Channel) {
        platform::Application();  // the main thread is this one, not the reader
        thread_ = std::thread([this] { Run(); });
    }
    ~TCommandReader() { thread_.join(); }

    // Main thread: pumps messages until a command arrives; false at the end of input.
    bool Next(std::string& Command) {
        platform::Application().ProcessMessagesUntil(
            [&] {
                std::lock_guard<std::mutex> g(m_);
                return !commands_.empty() || ended_;
            },
            std::chrono::hours(24 * 365));
        std::lock_guard<std::mutex> g(m_);
        if (commands_.empty()) return false;
        Command = std::move(commands_.front());
        commands_.pop_front();
        return true;
    }

private:
    void Run() {
        std::string line;
        while (channel_.ReadLine(line)) {
            {
                std::lock_guard<std::mutex> g(m_);
                commands_.push_back(line);
            }
            platform::Application().Wake();
        }
        {
            std::lock_guard<std::mutex> g(m_);
            ended_ = true;
        }
        platform::Application().Wake();
    }

    TCommandChannel& channel_;
    std::mutex m_;
    std::deque<std::string> commands_;
    bool ended_ = false;
    std::thread thread_;
};

}  // namespace

int RunServer(TCommandChannel& Channel) {
    TCommandReader reader(Channel);
    static std::array<uint16_t, 65536> registers{};
    for (size_t i = 0; i < registers.size(); ++i) registers[i] = static_cast<uint16_t>(i * 7);

    TModbusConnection connection;
    connection.SetConnectionMode(cmServer);
    TModbusServer server;
    server.SetAddress(1);
    server.SetConnection(&connection);
    // Plain handlers on an array: what the server costs is the library's share.
    server.OnAcceptCommand = [](TModbusServer&, uint8_t, bool& Accept) { Accept = true; };
    server.OnCanReadHoldingRegister = [](TModbusServer&, uint16_t, bool& Allow) { Allow = true; };
    server.OnGetHoldingRegisterValue = [](TModbusServer&, uint16_t A, uint16_t& V) { V = registers[A]; };
    server.OnCanWriteHoldingRegister = [](TModbusServer&, uint16_t, uint16_t, TItemWriteStatus& S) {
        S = iwsAllowWrite;
    };
    server.OnSetHoldingRegisterValue = [](TModbusServer&, uint16_t A, uint16_t V) { registers[A] = V; };

    std::string command;
    while (reader.Next(command)) {
        std::istringstream in(command);
        std::string verb;
        in >> verb;
        try {
            if (verb == "open") {
                std::string port, mode;
                uint32_t baud = 0;
                in >> port >> mode >> baud;
                connection.Close();
                connection.SetPort(port);
                ConfigureConnection(connection, TLine{mode == "ascii" ? tmASCII : tmRTU, baud});
                connection.Open();
                Channel.WriteLine("ok");
            } else if (verb == "close") {
                connection.Close();
                Channel.WriteLine("ok");
            } else if (verb == "cpu") {
                const TCpuTimes t = ProcessCpuTimes();
                Channel.WriteLine(std::to_string(t.TotalMs()) + " " + std::to_string(t.VoluntarySwitches) + " " +
                                  std::to_string(t.InvoluntarySwitches) + " " + std::to_string(HeapAllocations()));
            } else {
                Channel.WriteLine("error unknown command");
            }
        } catch (const std::exception& e) {
            Channel.WriteLine(std::string("error ") + e.what());
        }
    }
    connection.Close();
    return 0;
}

}  // namespace quelvan::bench
