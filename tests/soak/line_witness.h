#pragma once
// What crossed the line, seen from both ends, so that the soak can tell the library's faults
// from the line's: a reply is "authentic" when it is byte for byte what the server sent in
// answer to exactly this request; a request the server handles is authentic when it is byte
// for byte what a client sent.
//
// Fed from the connections' OnFrameSend and OnFrameReceive events. Those are posted by the
// threads in the order of their work and delivered in posting order, and a frame is posted
// before it is written, so a client's sent frame is seen before the server's copy of it, and
// the server's reply before the client's copy of that.

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "request_mix.h"

namespace quelvan::test {

class TLineWitness {
public:
    // Client side ------------------------------------------------------------------------
    void ClientSent(const Bytes& Frame, const TRequestPtr& Request);
    // Every receive; the last non-empty one before an event decided its outcome.
    void ClientReceived(const Bytes& Frame);
    const Bytes& LastClientReceived() const { return lastReceived_; }
    void ForgetClientReceived() { lastReceived_.clear(); }

    // Server side ------------------------------------------------------------------------
    // Every receive; a frame the server goes on to handle is the last one received.
    void ServerReceived(const Bytes& Frame);
    void ServerSent(const Bytes& Frame);
    // The request a client sent that the server is handling, or null when the frame is not
    // one a client sent (damaged on the way, yet its checksum holds; or injected).
    const TRequestPtr& ServerRequest() const { return serverRequest_; }
    // Numbers the frames the server received, in order.
    uint64_t ServerSequence() const { return serverSequence_; }

    // The number of the server's handling of Request that answered it with Reply (the latest,
    // if several did), or nothing when the server never sent Reply for Request.
    std::optional<uint64_t> FindReply(const Bytes& Request, const Bytes& Reply) const;
    // Where a reply that FindReply does not know came from, in words (for the report).
    std::string Explain(const Bytes& Request, const Bytes& Reply) const;

private:
    struct TSent {
        Bytes Frame;
        TRequestPtr Request;
    };
    struct TAnswer {
        Bytes Request, Reply;
        uint64_t Sequence;
    };
    std::deque<TSent> sent_;
    std::deque<TAnswer> answers_;
    Bytes lastReceived_;
    Bytes serverReceived_;
    TRequestPtr serverRequest_;
    uint64_t serverSequence_ = 0;
};

}  // namespace quelvan::test
