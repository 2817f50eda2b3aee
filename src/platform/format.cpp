#include "platform/format.h"

#include "platform/exceptions.h"

namespace quelvan::platform {

namespace {
[[noreturn]] void Bad(std::string_view fmt, const char* what) {
    throw EAssertionFailed("Format \"" + std::string(fmt) + "\": " + what);
}
}  // namespace

std::string Format(std::string_view Fmt, std::initializer_list<FormatArg> Args) {
    std::string out;
    out.reserve(Fmt.size() + 16);
    auto arg = Args.begin();
    for (size_t i = 0; i < Fmt.size(); ++i) {
        char c = Fmt[i];
        if (c != '%') {
            out += c;
            continue;
        }
        if (++i == Fmt.size()) Bad(Fmt, "dangling '%'");
        char conversion = Fmt[i];
        if (conversion == '%') {
            out += '%';
            continue;
        }
        if (arg == Args.end()) Bad(Fmt, "missing argument");
        const auto& v = arg->Value();
        ++arg;
        switch (conversion) {
        case 'd':
            if (auto* s = std::get_if<int64_t>(&v)) out += std::to_string(*s);
            else if (auto* u = std::get_if<uint64_t>(&v)) out += std::to_string(*u);
            else Bad(Fmt, "%d needs an integer");
            break;
        case 'u':
            if (auto* u = std::get_if<uint64_t>(&v)) out += std::to_string(*u);
            else if (auto* s = std::get_if<int64_t>(&v); s && *s >= 0) out += std::to_string(*s);
            else Bad(Fmt, "%u needs an unsigned integer");
            break;
        case 's':
            if (auto* s = std::get_if<std::string>(&v)) out += *s;
            else Bad(Fmt, "%s needs a string");
            break;
        default:
            Bad(Fmt, "unknown placeholder");
        }
    }
    if (arg != Args.end()) Bad(Fmt, "too many arguments");
    return out;
}

}  // namespace quelvan::platform
