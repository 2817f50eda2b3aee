// Any text either reads into a form or raises EFormError (never crashes, hangs or leaks), and
// a form that reads writes back to a text that reads again into the same text.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "../platform/test_components.h"
#include "platform/form_stream.h"

using namespace quelvan::platform;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    static const THandlerTable handlers = [] {
        testing::RegisterTestClasses();
        THandlerTable t;
        t.Add("Change", std::function<void(testing::TTestWidget&)>([](testing::TTestWidget&) {}));
        t.Add("Other", std::function<void(int)>([](int) {}));
        return t;
    }();

    TComponent root(nullptr);
    try {
        std::istringstream in(std::string(reinterpret_cast<const char*>(Data), Size));
        ReadForm(in, root, handlers);
    } catch (const Exception&) {
        return 0;  // a malformed form, or a Loaded that refused
    }
    std::ostringstream first;
    WriteForm(first, root);
    TComponent copy(nullptr);
    std::istringstream again(first.str());
    ReadForm(again, copy, handlers);
    std::ostringstream second;
    WriteForm(second, copy);
    if (first.str() != second.str()) std::abort();
    return 0;
}
