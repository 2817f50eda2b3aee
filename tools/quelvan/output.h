#pragma once
// Everything the tool prints on stdout: transaction outcomes, time-stamped frames and log
// lines, either readable or as JSON (one object per line). Output is flushed after every
// item, so a pipe sees each transaction as it ends.

#include <chrono>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "line_options.h"
#include "quelvan/connection_types.h"
#include "quelvan/transaction.h"

namespace quelvan::cli {

// One client transaction: the request as the user asked for it, then its outcome.
struct TTransactionReport {
    std::string Summary;   // "read holding registers 0-9"
    nlohmann::json Fields = nlohmann::json::object();  // "command" and the request's arguments
    bool Broadcast = false;
    bool Done = false;     // the outcome has arrived
    TTransactionInfo Info{};
    std::string ExceptionText;
    // What a normal reply carried: readable lines, and fields for the JSON object.
    std::vector<std::string> ValueLines;
    nlohmann::json Values = nlohmann::json::object();
};

// "normal", "exception", "none", "unmatched"; "sent" for a broadcast.
std::string ReplyName(const TTransactionReport& Report);

class TOutput {
public:
    TOutput(const TOutputOptions& Options, TTransmissionMode Mode);

    bool Json() const { return options_.Json; }
    // Seconds since the tool started.
    double Elapsed() const;

    // A frame as it crossed the line (only with --frames): printed at once, or in JSON kept
    // for the next object. An empty frame is a receive that ended with nothing.
    void Frame(const std::string& Label, const std::vector<uint8_t>& Data);
    // The outcome of a transaction, with the frames kept since the last object.
    void Transaction(const TTransactionReport& Report);
    // Any other output: Text when readable, Object (with "time" added) in JSON; an empty
    // Object prints nothing in JSON.
    void Line(const std::string& Text, nlohmann::json Object);

    // The line bytes as printed: hex bytes in RTU, the frame's characters in ASCII.
    std::string FrameText(const std::vector<uint8_t>& Data) const;

private:
    TOutputOptions options_;
    TTransmissionMode mode_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    nlohmann::json keptFrames_ = nlohmann::json::array();
};

}  // namespace quelvan::cli
