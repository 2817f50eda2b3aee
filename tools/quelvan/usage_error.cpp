#include "usage_error.h"

#include "quelvan/errors.h"

namespace quelvan::cli {

void CheckArgument(const std::string& What, const std::function<void()>& Check) {
    try {
        Check();
    } catch (const EQuelvanError& e) {
        throw EUsageError(What + ": " + e.Message());
    }
}

}  // namespace quelvan::cli
