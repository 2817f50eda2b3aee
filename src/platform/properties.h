#pragma once
// Published-property metadata per component class, and the class registry that the form
// reader uses to create components by class name.
//
// A class describes its own published properties (in declaration order) and names its parent;
// lookups search the parents too. The typed Make*Property helpers below build the getter
// and setter closures from member functions, so a class's table reads like its declaration:
//
//   static const TClassInfo info("TWidget", &ComponentClassInfo(),
//       [](TComponent* Owner) { return new TWidget(Owner); },
//       {MakeProperty("Count", TPropKind::Unsigned, &TWidget::Count, &TWidget::SetCount, 10u),
//        MakeEnumProperty("Mode", {"wmOff", "wmOn"}, &TWidget::Mode, &TWidget::SetMode, wmOff),
//        MakeEventProperty("OnChange", &TWidget::OnChange)});
//
// Names of classes, properties and enumeration identifiers are case-sensitive.

#include <any>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "platform/component.h"

namespace quelvan::platform {

enum class TPropKind : uint8_t { Integer, Unsigned, Boolean, Enumeration, String, Component, Event };

// Integer: int64_t; Unsigned: uint64_t; Boolean: bool; Enumeration: int64_t ordinal;
// String: std::string; Component: TComponent* (may be null). monostate means "no value".
// Setters built by MakeProperty accept int64_t and uint64_t alike for integer properties.
using TPropValue = std::variant<std::monostate, int64_t, uint64_t, bool, std::string, TComponent*>;

// Equal values; int64_t and uint64_t compare by number.
bool SameValue(const TPropValue& A, const TPropValue& B);

struct TPropInfo {
    std::string Name;
    TPropKind Kind = TPropKind::Integer;
    std::vector<std::string> EnumNames;  // Enumeration: identifiers in declaration order
    std::string ComponentClass;          // Component: class the referenced component must be
    // Integer, Unsigned: the values the property's C++ type holds; the form reader refuses
    // anything outside, so no value wraps on its way into the setter.
    int64_t MinValue = std::numeric_limits<int64_t>::min();
    uint64_t MaxValue = std::numeric_limits<uint64_t>::max();
    std::function<TPropValue(const TComponent&)> Get;
    std::function<void(TComponent&, const TPropValue&)> Set;  // the setter's own rules apply
    TPropValue Default;                          // monostate: always stored
    std::function<bool(const TComponent&)> Stored;  // empty: stored unless equal to Default
    // Event: bind a handler registered by the form (an std::function of the event's type
    // wrapped in std::any); raises EAssertionFailed when its type does not fit. Assigned
    // tells whether a handler is bound.
    std::function<void(TComponent&, const std::any&)> BindEvent;
    std::function<bool(const TComponent&)> Assigned;

    // The identifier of an enumeration ordinal, or "" when out of range.
    std::string EnumName(int64_t Ordinal) const;
    // The ordinal of an identifier, or -1.
    int64_t EnumOrdinal(const std::string& Identifier) const;
};

// Whether a form stores P of C: the Stored predicate when there is one (for an event, and
// only when a handler is assigned), otherwise a value that differs from Default (always, for
// a monostate Default). A null component reference is never stored.
bool IsPropertyStored(const TComponent& C, const TPropInfo& P);

class TClassInfo {
public:
    using Factory = std::function<TComponent*(TComponent* Owner)>;

    TClassInfo(std::string Name, const TClassInfo* Parent, Factory Create,
               std::vector<TPropInfo> Properties);

    const std::string& Name() const { return name_; }
    const TClassInfo* Parent() const { return parent_; }
    // Creates an instance owned by Owner; null for an abstract class.
    TComponent* Create(TComponent* Owner) const { return create_ ? create_(Owner) : nullptr; }
    const std::vector<TPropInfo>& OwnProperties() const { return properties_; }
    // Parents' properties first, then this class's, each in declaration order.
    std::vector<const TPropInfo*> AllProperties() const;
    // This class's property of that name, else the nearest parent's.
    const TPropInfo* FindProperty(const std::string& Name) const;
    // True for this class and every class derived from it.
    bool InheritsFrom(const TClassInfo& Other) const;
    bool InheritsFrom(const std::string& ClassName) const;

private:
    std::string name_;
    const TClassInfo* parent_;
    Factory create_;
    std::vector<TPropInfo> properties_;
};

// The metadata of TComponent itself (no published properties, abstract).
const TClassInfo& ComponentClassInfo();

// Registry of classes that forms may create. Registering a name twice keeps the first. Info
// is kept by address: it must live as long as the program (a function-local static).
void RegisterClass(const TClassInfo& Info);
const TClassInfo* FindClass(const std::string& Name);

// Raises EAssertionFailed: a form bound a handler of the wrong type to Event.
[[noreturn]] void ThrowEventTypeMismatch(const std::string& Event);
// Raises EAssertionFailed: a component property got a component of the wrong class.
[[noreturn]] void ThrowComponentClassMismatch(const std::string& Property, const std::string& RefClass);
// Raises EAssertionFailed: Make*Property was given a kind its C++ type cannot carry.
[[noreturn]] void ThrowKindMismatch(const std::string& Property);

// Typed builders ---------------------------------------------------------------------------

namespace detail {

template <typename T>
constexpr bool IsIntegerValue = std::is_integral_v<T> && !std::is_same_v<T, bool>;

template <typename T>
TPropValue ToPropValue(const T& v) {
    if constexpr (std::is_same_v<T, bool>) return v;
    else if constexpr (std::is_enum_v<T>) return static_cast<int64_t>(v);
    else if constexpr (IsIntegerValue<T> && std::is_signed_v<T>) return static_cast<int64_t>(v);
    else if constexpr (IsIntegerValue<T>) return static_cast<uint64_t>(v);
    else return std::string(v);
}

template <typename T>
T FromPropValue(const TPropValue& v) {
    if constexpr (std::is_same_v<T, bool>) return std::get<bool>(v);
    else if constexpr (std::is_enum_v<T>) return static_cast<T>(std::get<int64_t>(v));
    else if constexpr (IsIntegerValue<T>) {
        if (auto* s = std::get_if<int64_t>(&v)) return static_cast<T>(*s);
        return static_cast<T>(std::get<uint64_t>(v));
    } else return std::get<std::string>(v);
}

template <typename T>
bool KindFits(TPropKind Kind) {
    switch (Kind) {
    case TPropKind::Integer: return IsIntegerValue<T> && std::is_signed_v<T>;
    case TPropKind::Unsigned: return IsIntegerValue<T> && std::is_unsigned_v<T>;
    case TPropKind::Boolean: return std::is_same_v<T, bool>;
    case TPropKind::Enumeration: return std::is_enum_v<T>;
    case TPropKind::String: return std::is_convertible_v<T, std::string>;
    default: return false;
    }
}

}  // namespace detail

// A property read by Getter and written by Setter (either may use the value or a const
// reference). Without a Default the property is always stored; a Default is converted to the
// property's type, or taken as is when it is a TPropValue. Raises EAssertionFailed when Kind
// does not fit the type (Integer: a signed type, Unsigned: an unsigned one, Enumeration: an
// enum, Boolean: bool, String: std::string).
template <typename C, typename G, typename S>
TPropInfo MakeProperty(std::string Name, TPropKind Kind, G (C::*Getter)() const,
                       void (C::*Setter)(S)) {
    using T = std::decay_t<G>;
    static_assert(std::is_same_v<T, std::decay_t<S>>, "getter and setter types differ");
    if (!detail::KindFits<T>(Kind)) ThrowKindMismatch(Name);
    TPropInfo p;
    p.Name = std::move(Name);
    p.Kind = Kind;
    if constexpr (detail::IsIntegerValue<T>) {
        p.MinValue = static_cast<int64_t>(std::numeric_limits<T>::min());
        p.MaxValue = static_cast<uint64_t>(std::numeric_limits<T>::max());
    }
    p.Get = [Getter](const TComponent& c) -> TPropValue {
        return detail::ToPropValue<T>((static_cast<const C&>(c).*Getter)());
    };
    p.Set = [Setter](TComponent& c, const TPropValue& v) {
        (static_cast<C&>(c).*Setter)(detail::FromPropValue<T>(v));
    };
    return p;
}

template <typename C, typename G, typename S, typename D>
TPropInfo MakeProperty(std::string Name, TPropKind Kind, G (C::*Getter)() const,
                       void (C::*Setter)(S), D Default) {
    TPropInfo p = MakeProperty<C, G, S>(std::move(Name), Kind, Getter, Setter);
    if constexpr (std::is_same_v<D, TPropValue>) p.Default = std::move(Default);
    else p.Default = detail::ToPropValue<std::decay_t<G>>(static_cast<std::decay_t<G>>(Default));
    return p;
}

template <typename C, typename E>
TPropInfo MakeEnumProperty(std::string Name, std::vector<std::string> Identifiers,
                           E (C::*Getter)() const, void (C::*Setter)(E), E Default) {
    TPropInfo p = MakeProperty(std::move(Name), TPropKind::Enumeration, Getter, Setter, Default);
    p.EnumNames = std::move(Identifiers);
    return p;
}

// A reference to another component of class R (or derived); RefClass names R's metadata.
template <typename C, typename R>
TPropInfo MakeComponentProperty(std::string Name, std::string RefClass, R* (C::*Getter)() const,
                                void (C::*Setter)(R*)) {
    TPropInfo p;
    p.Name = Name;
    p.Kind = TPropKind::Component;
    p.ComponentClass = RefClass;
    p.Default = static_cast<TComponent*>(nullptr);
    p.Get = [Getter](const TComponent& c) -> TPropValue {
        return static_cast<TComponent*>((static_cast<const C&>(c).*Getter)());
    };
    p.Set = [Setter, Name, RefClass](TComponent& c, const TPropValue& v) {
        TComponent* target = std::get<TComponent*>(v);
        R* typed = dynamic_cast<R*>(target);
        if (target && !typed) ThrowComponentClassMismatch(Name, RefClass);
        (static_cast<C&>(c).*Setter)(typed);
    };
    return p;
}

// An event stored in a public std::function member of type F.
template <typename C, typename F>
TPropInfo MakeEventProperty(std::string Name, F C::*Member) {
    TPropInfo p;
    p.Name = Name;
    p.Kind = TPropKind::Event;
    p.BindEvent = [Member, Name](TComponent& c, const std::any& handler) {
        const F* f = std::any_cast<F>(&handler);
        if (!f) ThrowEventTypeMismatch(Name);
        static_cast<C&>(c).*Member = *f;
    };
    p.Assigned = [Member](const TComponent& c) {
        return static_cast<bool>(static_cast<const C&>(c).*Member);
    };
    return p;
}

}  // namespace quelvan::platform
