#pragma once
// Text form files: the classic "object Name: TClass ... end" syntax.
//
//   object MainForm: TForm              <- the root: its components are the ones below
//     object ModbusConnection1: TModbusConnection
//       Port = '/dev/ttyUSB0'
//       BaudRate = br9600
//       Active = True
//       OnAfterOpen = ModbusConnection1AfterOpen
//     end
//     object ModbusClient1: TModbusClient
//       Connection = ModbusConnection1
//     end
//   end
//
// Values: integers (decimal or $hex, with an optional '-'), True/False, enumeration
// identifiers, single-quoted strings ('' for a quote; a control character is written as #nn
// between quoted parts, as in 'a'#10'b'), component names, handler names. An unnamed
// component is written "object TClass". Every header, assignment and "end" has a line of its
// own; // starts a comment that runs to the end of the line. Names are case-sensitive.
//
// The root stands for the form itself: only its name, class and components are streamed, not
// its own properties.

#include <any>
#include <functional>
#include <istream>
#include <map>
#include <ostream>
#include <string>
#include <type_traits>

#include "platform/component.h"
#include "platform/exceptions.h"

namespace quelvan::platform {

// A malformed form: the message names the line ("Line 7: Unknown property 'Baud'").
class EFormError : public Exception {
public:
    EFormError(int Line, const std::string& What);
    int Line() const { return line_; }

private:
    int line_;
};

// Handlers a form offers for binding by name: each an std::function of an event's type.
class THandlerTable {
public:
    template <typename F>
    void Add(const std::string& Name, F Handler) {
        static_assert(IsStdFunction<F>::value, "wrap the handler in the event's std::function");
        handlers_[Name] = std::move(Handler);
    }
    const std::any* Find(const std::string& Name) const;

private:
    template <typename F>
    struct IsStdFunction : std::false_type {};
    template <typename R, typename... A>
    struct IsStdFunction<std::function<R(A...)>> : std::true_type {};

    std::map<std::string, std::any> handlers_;
};

// Reads a form into Root: the root object's class must be Root's class (or "TForm" for a
// plain component root), and its name, when given, becomes Root's name. Each nested object,
// at any depth, is created by registered class name, owned by Root, with csLoading set while
// it is read; values go through the setters in file order, handlers are bound as they are
// read. After the whole text is read, component references are resolved by name among Root
// and its components (so forward references work), csLoading is cleared on every new
// component, and Loaded is called on each in creation order.
//
// A malformed form (syntax, unknown class, property or handler, a value of the wrong kind or
// out of the property's range, an unresolved reference) or a setter that raises gives
// EFormError naming the line; the components created so far are destroyed and Root is left
// as it was. An exception from a Loaded does not undo the form: every Loaded still runs and
// the first such exception is raised again afterwards.
void ReadForm(std::istream& In, TComponent& Root, const THandlerTable& Handlers);

// Writes Root and its owned components, in creation order, 2 spaces of indentation per level.
// Only stored properties are written (IsPropertyStored); events with their recorded handler
// names (an assigned event without a recorded name is left out). RootClass "" means Root's
// class name, or "TForm" for a plain component. Raises EAssertionFailed, writing nothing,
// for what could not be read back: a component whose class is not registered, a reference to
// a component that is not Root or one of its named components, an enumeration value without
// an identifier. Raises Exception when Out fails.
void WriteForm(std::ostream& Out, const TComponent& Root, const std::string& RootClass = "");

}  // namespace quelvan::platform
