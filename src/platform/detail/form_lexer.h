#pragma once
// Tokens of a text form file (syntax in form_stream.h). Errors raise EFormError with the line.

#include <cstdint>
#include <string>

namespace quelvan::platform::detail {

enum class TFormTokenKind : uint8_t { Identifier, Integer, String, Symbol, EndOfText };

struct TFormToken {
    TFormTokenKind Kind = TFormTokenKind::EndOfText;
    std::string Text;       // identifier, symbol, decoded string, or the integer as written
    bool Negative = false;  // Integer: sign and magnitude, so no range is lost before the
    uint64_t Magnitude = 0; // property's own range is checked
    int Line = 1;

    bool Is(TFormTokenKind K, const std::string& T) const { return Kind == K && Text == T; }
    // The token as an error message shows it: 'name', 42, 'text', end of file.
    std::string Describe() const;
};

class TFormLexer {
public:
    explicit TFormLexer(std::string Text);
    const TFormToken& Peek() const { return next_; }
    TFormToken Next();

private:
    TFormToken Scan();
    void SkipBlanks();
    void ScanInteger(TFormToken& t);
    void ScanString(TFormToken& t);
    char At(size_t i) const { return i < text_.size() ? text_[i] : '\0'; }

    std::string text_;
    size_t pos_ = 0;
    int line_ = 1;
    int lastLine_ = 1;
    TFormToken next_;
};

}  // namespace quelvan::platform::detail
