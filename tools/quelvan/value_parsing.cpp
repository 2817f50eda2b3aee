#include "value_parsing.h"

#include <algorithm>
#include <cctype>

#include "usage_error.h"

namespace quelvan::cli {

uint32_t ParseNumber(const std::string& Text, const std::string& What, uint32_t Min, uint32_t Max) {
    const bool hex = Text.size() > 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X');
    const std::string digits = hex ? Text.substr(2) : Text;
    const auto isDigit = [hex](unsigned char c) { return hex ? std::isxdigit(c) != 0 : std::isdigit(c) != 0; };
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), isDigit))
        throw EUsageError(What + ": '" + Text + "' is not a number");
    uint64_t value = 0;
    for (const char c : digits) {
        const auto d = static_cast<unsigned char>(c);
        value = value * (hex ? 16 : 10) + static_cast<uint64_t>(std::isdigit(d) ? d - '0' : std::tolower(d) - 'a' + 10);
        if (value > Max) break;  // also keeps a long digit string from overflowing
    }
    if (value < Min || value > Max)
        throw EUsageError(What + ": " + Text + " is out of range (" + std::to_string(Min) + ".." +
                          std::to_string(Max) + ")");
    return static_cast<uint32_t>(value);
}

uint16_t ParseWord(const std::string& Text, const std::string& What) {
    return static_cast<uint16_t>(ParseNumber(Text, What, 0, 0xFFFF));
}

bool ParseBit(const std::string& Text, const std::string& What) {
    std::string t = Text;
    std::transform(t.begin(), t.end(), t.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (t == "1" || t == "on" || t == "true") return true;
    if (t == "0" || t == "off" || t == "false") return false;
    throw EUsageError(What + ": '" + Text + "' is not a bit value (0, 1, on, off, true, false)");
}

}  // namespace quelvan::cli
