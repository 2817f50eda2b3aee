#include "platform/detail/form_lexer.h"

#include "platform/form_stream.h"

namespace quelvan::platform::detail {

namespace {

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexDigit(char c) {
    if (IsDigit(c)) return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string ShowChar(char c) {
    auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7f) return std::string("'") + c + "'";
    return "#" + std::to_string(u);
}

}  // namespace

std::string TFormToken::Describe() const {
    switch (Kind) {
    case TFormTokenKind::EndOfText: return "end of file";
    case TFormTokenKind::Integer: return Text;
    case TFormTokenKind::String: {
        std::string quoted = "'";
        for (char c : Text.substr(0, 40)) quoted += c == '\'' ? std::string("''") : std::string(1, c);
        return quoted + (Text.size() > 40 ? "...'" : "'");
    }
    default: return "'" + Text + "'";
    }
}

TFormLexer::TFormLexer(std::string Text) : text_(std::move(Text)) { next_ = Scan(); }

TFormToken TFormLexer::Next() {
    TFormToken t = std::move(next_);
    next_ = Scan();
    return t;
}

void TFormLexer::SkipBlanks() {
    while (pos_ < text_.size()) {
        char c = text_[pos_];
        if (c == '\n') ++line_;
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            ++pos_;
        } else if (c == '/' && At(pos_ + 1) == '/') {
            while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
        } else {
            break;
        }
    }
}

TFormToken TFormLexer::Scan() {
    SkipBlanks();
    TFormToken t;
    // End of text is reported on the last line that held a token, not on a trailing blank one.
    if (pos_ >= text_.size()) {
        t.Line = lastLine_;
        return t;
    }
    t.Line = lastLine_ = line_;
    char c = text_[pos_];
    if (IsLetter(c)) {
        t.Kind = TFormTokenKind::Identifier;
        size_t start = pos_;
        while (pos_ < text_.size() && (IsLetter(text_[pos_]) || IsDigit(text_[pos_]))) ++pos_;
        t.Text = text_.substr(start, pos_ - start);
    } else if (IsDigit(c) || c == '$' || c == '-') {
        ScanInteger(t);
    } else if (c == '\'' || c == '#') {
        ScanString(t);
    } else if (c == ':' || c == '=') {
        t.Kind = TFormTokenKind::Symbol;
        t.Text = std::string(1, c);
        ++pos_;
    } else {
        throw EFormError(line_, "Invalid character " + ShowChar(c));
    }
    return t;
}

void TFormLexer::ScanInteger(TFormToken& t) {
    t.Kind = TFormTokenKind::Integer;
    size_t start = pos_;
    t.Negative = text_[pos_] == '-';
    if (t.Negative) ++pos_;
    const bool hex = At(pos_) == '$';
    if (hex) ++pos_;
    const uint64_t base = hex ? 16 : 10;
    bool overflow = false;
    size_t digits = 0;
    for (; pos_ < text_.size(); ++pos_, ++digits) {
        int d = hex ? HexDigit(text_[pos_]) : (IsDigit(text_[pos_]) ? text_[pos_] - '0' : -1);
        if (d < 0) break;
        if (t.Magnitude > (UINT64_MAX - static_cast<uint64_t>(d)) / base) overflow = true;
        t.Magnitude = t.Magnitude * base + static_cast<uint64_t>(d);
    }
    while (pos_ < text_.size() && (IsLetter(text_[pos_]) || IsDigit(text_[pos_]))) ++pos_;
    t.Text = text_.substr(start, pos_ - start);
    if (digits == 0 || t.Text.size() != digits + (t.Negative ? 1 : 0) + (hex ? 1 : 0))
        throw EFormError(line_, "Invalid number '" + t.Text + "'");
    if (overflow) throw EFormError(line_, "Number out of range: " + t.Text);
    if (t.Magnitude == 0) t.Negative = false;
}

void TFormLexer::ScanString(TFormToken& t) {
    t.Kind = TFormTokenKind::String;
    while (pos_ < text_.size() && (text_[pos_] == '\'' || text_[pos_] == '#')) {
        if (text_[pos_] == '#') {
            ++pos_;
            unsigned code = 0;
            size_t digits = 0;
            for (; pos_ < text_.size() && IsDigit(text_[pos_]) && code <= 255; ++pos_, ++digits)
                code = code * 10 + static_cast<unsigned>(text_[pos_] - '0');
            if (digits == 0 || code > 255) throw EFormError(line_, "Invalid character code");
            t.Text += static_cast<char>(code);
            continue;
        }
        ++pos_;
        for (;;) {
            if (pos_ >= text_.size() || text_[pos_] == '\n' || text_[pos_] == '\r')
                throw EFormError(line_, "Unterminated string");
            char c = text_[pos_++];
            if (c != '\'') {
                t.Text += c;
            } else if (At(pos_) == '\'') {
                t.Text += '\'';
                ++pos_;
            } else {
                break;
            }
        }
    }
}

}  // namespace quelvan::platform::detail
