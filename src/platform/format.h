#pragma once
// A small type-checked formatter for the library's message table: "%d" takes a signed or
// unsigned integer, "%u" an integer that is not negative, "%s" a string, "%%" a percent sign.
// A placeholder whose argument is missing or of the wrong kind, or an argument left over,
// raises EAssertionFailed naming the format, so a bad translation cannot corrupt memory.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

namespace quelvan::platform {

class FormatArg {
public:
    template <typename T, std::enable_if_t<std::is_integral_v<T> && std::is_signed_v<T> &&
                                               !std::is_same_v<T, bool>,
                                           int> = 0>
    FormatArg(T v) : value_(static_cast<int64_t>(v)) {}
    template <typename T, std::enable_if_t<std::is_integral_v<T> && std::is_unsigned_v<T> &&
                                               !std::is_same_v<T, bool>,
                                           int> = 0>
    FormatArg(T v) : value_(static_cast<uint64_t>(v)) {}
    FormatArg(std::string_view v) : value_(std::string(v)) {}
    FormatArg(const std::string& v) : value_(v) {}
    FormatArg(const char* v) : value_(std::string(v ? v : "")) {}

    const std::variant<int64_t, uint64_t, std::string>& Value() const { return value_; }

private:
    std::variant<int64_t, uint64_t, std::string> value_;
};

std::string Format(std::string_view Fmt, std::initializer_list<FormatArg> Args);

}  // namespace quelvan::platform
