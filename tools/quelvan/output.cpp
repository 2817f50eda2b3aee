#include "output.h"

#include <cmath>
#include <cstdio>
#include <utility>

namespace quelvan::cli {

namespace {
void Print(const std::string& Text) {
    std::fwrite(Text.data(), 1, Text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Milliseconds, so JSON times read like the printed ones.
double Rounded(double Seconds) { return std::round(Seconds * 1000) / 1000; }
}  // namespace

std::string ReplyName(const TTransactionReport& R) {
    if (R.Broadcast) return "sent";
    switch (R.Info.Reply) {
    case rkNormalReply: return "normal";
    case rkExceptionReply: return "exception";
    case rkUnmatchedReply: return "unmatched";
    case rkNoReply: break;
    }
    return "none";
}

TOutput::TOutput(const TOutputOptions& Options, TTransmissionMode Mode) : options_(Options), mode_(Mode) {}

double TOutput::Elapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

std::string TOutput::FrameText(const std::vector<uint8_t>& Data) const {
    std::string s;
    char buf[8];
    for (const uint8_t b : Data) {
        if (mode_ == tmRTU) {
            std::snprintf(buf, sizeof buf, s.empty() ? "%02X" : " %02X", b);
        } else if (b == '\r') {
            std::snprintf(buf, sizeof buf, "\\r");
        } else if (b == '\n') {
            std::snprintf(buf, sizeof buf, "\\n");
        } else if (b >= 0x20 && b < 0x7F) {
            std::snprintf(buf, sizeof buf, "%c", b);
        } else {
            std::snprintf(buf, sizeof buf, "\\x%02X", b);
        }
        s += buf;
    }
    return s;
}

void TOutput::Frame(const std::string& Label, const std::vector<uint8_t>& Data) {
    if (!options_.Frames) return;
    const std::string text = Data.empty() ? "(nothing received)" : FrameText(Data);
    if (options_.Json) {
        keptFrames_.push_back({{"time", Rounded(Elapsed())}, {"frame", Label}, {"data", text}});
        return;
    }
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%10.3f  ", Elapsed());
    Print(stamp + Label + "  " + text);
}

void TOutput::Transaction(const TTransactionReport& R) {
    const TTransactionInfo& info = R.Info;
    if (options_.Json) {
        nlohmann::json j = {{"time", Rounded(Elapsed())}};
        j.update(R.Fields);
        j["broadcast"] = R.Broadcast;
        if (!R.Broadcast) j["server"] = info.ServerAddress;
        j["id"] = info.ID;
        j["attempts"] = info.Attempts;
        j["reply"] = ReplyName(R);
        if (info.Reply == rkExceptionReply && !R.Broadcast) {
            j["exception_code"] = info.RawExceptionCode;
            j["exception_text"] = R.ExceptionText;
        }
        if (info.Reply == rkNormalReply) j.update(R.Values);
        if (!keptFrames_.empty()) j["frames"] = std::exchange(keptFrames_, nlohmann::json::array());
        Print(j.dump());
        return;
    }
    std::string line = R.Summary + (R.Broadcast ? " @broadcast: " : " @" + std::to_string(info.ServerAddress) + ": ");
    if (R.Broadcast) {
        line += "sent (a broadcast gets no reply)";
    } else {
        switch (info.Reply) {
        case rkNormalReply: line += "normal reply"; break;
        case rkExceptionReply:
            line += "exception reply, code " + std::to_string(info.RawExceptionCode) + ": " + R.ExceptionText;
            break;
        case rkUnmatchedReply: line += "unmatched reply"; break;
        case rkNoReply: line += "no reply"; break;
        }
        if (info.Attempts > 1) line += " (" + std::to_string(info.Attempts) + " attempts)";
    }
    Print(line);
    if (info.Reply == rkNormalReply)
        for (const std::string& v : R.ValueLines) Print("  " + v);
}

void TOutput::Line(const std::string& Text, nlohmann::json Object) {
    if (!options_.Json) {
        Print(Text);
        return;
    }
    if (Object.empty()) return;  // layout only
    nlohmann::json j = {{"time", Rounded(Elapsed())}};
    j.update(Object);
    if (!keptFrames_.empty()) j["frames"] = std::exchange(keptFrames_, nlohmann::json::array());
    Print(j.dump());
}

}  // namespace quelvan::cli
