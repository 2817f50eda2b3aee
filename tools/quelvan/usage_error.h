#pragma once
// A bad argument: the tool prints "quelvan: <message>" on one line and exits with
// exUsageError. Raised only before any port is opened.

#include <functional>
#include <stdexcept>
#include <string>

namespace quelvan::cli {

class EUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Runs Check; a library error it raises (an EQuelvanError with the library's own text)
// becomes an EUsageError "<What>: <text>".
void CheckArgument(const std::string& What, const std::function<void()>& Check);

}  // namespace quelvan::cli
