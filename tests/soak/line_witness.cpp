#include "line_witness.h"

namespace quelvan::test {

namespace {
// Frames remembered at each end: far more than are ever in flight at once.
constexpr size_t kMemory = 32;

template <typename T>
void Keep(std::deque<T>& Q, T Item) {
    Q.push_back(std::move(Item));
    if (Q.size() > kMemory) Q.pop_front();
}
}  // namespace

void TLineWitness::ClientSent(const Bytes& Frame, const TRequestPtr& Request) {
    if (!sent_.empty() && sent_.back().Frame == Frame) return;  // a retry
    Keep(sent_, TSent{Frame, Request});
}

void TLineWitness::ClientReceived(const Bytes& Frame) {
    if (!Frame.empty()) lastReceived_ = Frame;
}

void TLineWitness::ServerReceived(const Bytes& Frame) {
    ++serverSequence_;
    serverReceived_ = Frame;
    serverRequest_ = nullptr;
    for (auto it = sent_.rbegin(); it != sent_.rend(); ++it) {
        if (it->Frame == Frame) {
            serverRequest_ = it->Request;
            break;
        }
    }
}

void TLineWitness::ServerSent(const Bytes& Frame) {
    if (!Frame.empty()) Keep(answers_, TAnswer{serverReceived_, Frame, serverSequence_});
}

std::optional<uint64_t> TLineWitness::FindReply(const Bytes& Request, const Bytes& Reply) const {
    for (auto it = answers_.rbegin(); it != answers_.rend(); ++it)
        if (it->Reply == Reply && it->Request == Request) return it->Sequence;
    return std::nullopt;
}

std::string TLineWitness::Explain(const Bytes& Request, const Bytes& Reply) const {
    if (Reply == Request) return "the request itself, echoed after the attempt it belonged to";
    for (auto it = answers_.rbegin(); it != answers_.rend(); ++it)
        if (it->Reply == Reply) return "the server's reply to another request, " + Hex(it->Request);
    for (auto it = answers_.rbegin(); it != answers_.rend(); ++it)
        if (it->Request == Request) return "damaged on the way from " + Hex(it->Reply);
    return "not sent by the server";
}

}  // namespace quelvan::test
