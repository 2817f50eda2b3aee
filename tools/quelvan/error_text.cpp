#include "error_text.h"

namespace quelvan::cli {

std::string ErrorText(const std::exception& E) {
    std::string text = E.what();
    try {
        std::rethrow_if_nested(E);
    } catch (const std::exception& cause) {
        text += " (" + ErrorText(cause) + ")";
    } catch (...) {
    }
    return text;
}

}  // namespace quelvan::cli
