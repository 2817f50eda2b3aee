#pragma once
// Published-property metadata per component class, and the class registry that the form
// reader uses to create components by class name.
//
// A class describes its own published properties (in declaration order) and names its parent;
// lookups search the parents too. The typed Make*Property helpers below build the getter
// and setter closures from member functions, so a class's table reads like its declaration.

#include <any>
#include <cstdint>
#include <functional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "platform/component.h"

namespace quelvan::platform {

enum class TPropKind : uint8_t { Integer, Unsigned, Boolean, Enumeration, String, Component, Event };

// Integer: int64_t; Unsigned: uint64_t; Boolean: bool; Enumeration: int64_t ordinal;
// String: std::string; Component: TComponent* (may be null). monostate means "no value".
using TPropValue = std::variant<std::monostate, int64_t, uint64_t, bool, std::string, TComponent*>;

struct TPropInfo {
    std::string Name;
    TPropKind Kind = TPropKind::Integer;
    std::vector<std::string> EnumNames;  // Enumeration: identifiers in declaration order
    std::string ComponentClass;          // Component: class the referenced component must be
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
    int64_t EnumOrdinal(const std::string& Name) const;
};

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
    const TPropInfo* FindProperty(const std::string& Name) const;
    bool InheritsFrom(const TClassInfo& Other) const;

private:
    std::string name_;
    const TClassInfo* parent_;
    Factory create_;
    std::vector<TPropInfo> properties_;
};

// The metadata of TComponent itself (no published properties).
const TClassInfo& ComponentClassInfo();

// Registry of classes that forms may create. Registering a name twice keeps the first.
void RegisterClass(const TClassInfo& Info);
const TClassInfo* FindClass(const std::string& Name);

// Raises EAssertionFailed: a form bound a handler of the wrong type to Event.
[[noreturn]] void ThrowEventTypeMismatch(const std::string& Event);

// Typed builders ---------------------------------------------------------------------------

template <typename C, typename T>
TPropInfo MakeProperty(std::string Name, TPropKind Kind, T (C::*Getter)() const,
                       void (C::*Setter)(T), TPropValue Default = {}) {
    TPropInfo p;
    p.Name = std::move(Name);
    p.Kind = Kind;
    p.Default = std::move(Default);
    p.Get = [Getter](const TComponent& c) -> TPropValue {
        T v = (static_cast<const C&>(c).*Getter)();
        if constexpr (std::is_same_v<T, bool>) return v;
        else if constexpr (std::is_enum_v<T>) return static_cast<int64_t>(v);
        else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) return static_cast<int64_t>(v);
        else if constexpr (std::is_integral_v<T>) return static_cast<uint64_t>(v);
        else return std::string(v);
    };
    p.Set = [Setter](TComponent& c, const TPropValue& v) {
        C& self = static_cast<C&>(c);
        if constexpr (std::is_same_v<T, bool>) (self.*Setter)(std::get<bool>(v));
        else if constexpr (std::is_enum_v<T>) (self.*Setter)(static_cast<T>(std::get<int64_t>(v)));
        else if constexpr (std::is_integral_v<T>) {
            if (auto* s = std::get_if<int64_t>(&v)) (self.*Setter)(static_cast<T>(*s));
            else (self.*Setter)(static_cast<T>(std::get<uint64_t>(v)));
        } else (self.*Setter)(std::get<std::string>(v));
    };
    return p;
}

template <typename C, typename T>
TPropInfo MakeProperty(std::string Name, TPropKind Kind, T (C::*Getter)() const,
                       void (C::*Setter)(const T&), TPropValue Default = {}) {
    TPropInfo p;
    p.Name = std::move(Name);
    p.Kind = Kind;
    p.Default = std::move(Default);
    p.Get = [Getter](const TComponent& c) -> TPropValue {
        return std::string((static_cast<const C&>(c).*Getter)());
    };
    p.Set = [Setter](TComponent& c, const TPropValue& v) {
        (static_cast<C&>(c).*Setter)(std::get<std::string>(v));
    };
    return p;
}

template <typename C, typename E>
TPropInfo MakeEnumProperty(std::string Name, std::vector<std::string> Identifiers,
                           E (C::*Getter)() const, void (C::*Setter)(E), E Default) {
    TPropInfo p = MakeProperty<C, E>(std::move(Name), TPropKind::Enumeration, Getter, Setter,
                                     static_cast<int64_t>(Default));
    p.EnumNames = std::move(Identifiers);
    return p;
}

// A reference to another component of class R (or derived).
template <typename C, typename R>
TPropInfo MakeComponentProperty(std::string Name, std::string RefClass, R* (C::*Getter)() const,
                                void (C::*Setter)(R*)) {
    TPropInfo p;
    p.Name = std::move(Name);
    p.Kind = TPropKind::Component;
    p.ComponentClass = std::move(RefClass);
    p.Default = static_cast<TComponent*>(nullptr);
    p.Get = [Getter](const TComponent& c) -> TPropValue {
        return static_cast<TComponent*>((static_cast<const C&>(c).*Getter)());
    };
    p.Set = [Setter](TComponent& c, const TPropValue& v) {
        (static_cast<C&>(c).*Setter)(dynamic_cast<R*>(std::get<TComponent*>(v)));
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
