#pragma once
// The server side's log: each request a server received, in words, with what became of it
// (a normal reply, an exception reply with its code and text, for a broadcast whether its
// write was applied, or ignored because it was for another address), plus its frames with
// --frames.
//
// Built from the connection's frame events and the server's own events, all on the main
// thread in the order the transaction thread posted them: the request frame, then the
// server's handling (during which the log posts itself a note), then the reply frame. A
// broadcast has no reply frame, so the note, delivered right after the handling, ends it.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "output.h"
#include "platform/message_window.h"
#include "quelvan/frame_codec.h"
#include "quelvan/item_map.h"
#include "quelvan/modbus_connection.h"
#include "quelvan/modbus_server.h"

namespace quelvan::cli {

class TRequestLog {
public:
    // Who names the server in the output ("server": frames "server RX", lines "server: ...").
    // Sets the connection's frame events and wraps the server's OnAcceptCommand and the map's
    // OnChanged (Items must already be attached to Server). All must outlive the log's use.
    TRequestLog(TModbusConnection& Connection, TModbusServer& Server, TModbusItemMap& Items, TOutput& Output,
                const std::string& Who = "");

    // Requests logged so far (each request is logged once, when its outcome is known).
    int Count() const { return count_; }

private:
    struct TRequest {
        std::string Description;
        uint8_t Address = 0;
        uint8_t Command = 0;
        bool Valid = true;  // a well-formed frame: Address and Command mean something
    };

    void FrameReceived(const TFrameData& Data);
    void FrameSent(const TFrameData& Data);
    void HandlingDone();
    void Log(const TRequest& Request, const std::string& Outcome, nlohmann::json Fields);

    TModbusServer& server_;
    TOutput& output_;
    const std::string who_;
    const TFrameCodec codec_;
    TModbusBuffer frame_;
    platform::TMessageWindow window_;
    std::unique_ptr<TRequest> pending_;  // a request whose outcome is not known yet
    int changes_ = 0;                    // items the map stored while the pending request was handled
    int count_ = 0;
};

}  // namespace quelvan::cli
