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
// Values: integers (decimal, or $hex), True/False, enumeration identifiers, single-quoted
// strings ('' for a quote), component names, handler names. Lines starting with // are
// comments.

#include <any>
#include <istream>
#include <map>
#include <ostream>
#include <string>

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
    void Add(const std::string& Name, F Handler) { handlers_[Name] = std::move(Handler); }
    const std::any* Find(const std::string& Name) const;

private:
    std::map<std::string, std::any> handlers_;
};

// Reads a form into Root: the root object's class must be Root's class (or "TForm" for a
// plain component root); each nested object is created by registered class name, owned by
// Root, with csLoading set while it is read. After the whole text is read, component
// references are resolved by name among Root's components, csLoading is cleared, and Loaded
// is called on each new component in creation order. On any error the components created so
// far are destroyed, Root is left as it was, and EFormError is raised.
void ReadForm(std::istream& In, TComponent& Root, const THandlerTable& Handlers);

// Writes Root and its owned components. Only stored properties whose value differs from
// their default are written; events are written with their recorded handler names.
void WriteForm(std::ostream& Out, const TComponent& Root, const std::string& RootClass = "TForm");

}  // namespace quelvan::platform
