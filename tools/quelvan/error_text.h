#pragma once
// The text of an error for the terminal: its message, followed by the causes nested in it
// (a library error keeps the system's reason that way), each in parentheses.

#include <exception>
#include <string>

namespace quelvan::cli {

std::string ErrorText(const std::exception& E);

}  // namespace quelvan::cli
