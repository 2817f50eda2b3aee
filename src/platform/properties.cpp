#include "platform/properties.h"

#include <map>

#include "platform/exceptions.h"
#include "platform/format.h"

namespace quelvan::platform {

bool SameValue(const TPropValue& A, const TPropValue& B) {
    auto s = std::get_if<int64_t>(&A);
    auto u = std::get_if<uint64_t>(&B);
    if (!s || !u) {
        s = std::get_if<int64_t>(&B);
        u = std::get_if<uint64_t>(&A);
    }
    if (s && u) return *s >= 0 && static_cast<uint64_t>(*s) == *u;
    return A == B;
}

std::string TPropInfo::EnumName(int64_t Ordinal) const {
    if (Ordinal < 0 || static_cast<uint64_t>(Ordinal) >= EnumNames.size()) return {};
    return EnumNames[static_cast<size_t>(Ordinal)];
}

int64_t TPropInfo::EnumOrdinal(const std::string& Identifier) const {
    for (size_t i = 0; i < EnumNames.size(); ++i)
        if (EnumNames[i] == Identifier) return static_cast<int64_t>(i);
    return -1;
}

bool IsPropertyStored(const TComponent& C, const TPropInfo& P) {
    if (P.Kind == TPropKind::Event) return P.Assigned && P.Assigned(C) && (!P.Stored || P.Stored(C));
    // A null reference has nothing to write, whatever the predicate says.
    if (P.Kind == TPropKind::Component && !std::get<TComponent*>(P.Get(C))) return false;
    if (P.Stored) return P.Stored(C);
    return std::holds_alternative<std::monostate>(P.Default) || !SameValue(P.Get(C), P.Default);
}

TClassInfo::TClassInfo(std::string Name, const TClassInfo* Parent, Factory Create,
                       std::vector<TPropInfo> Properties)
    : name_(std::move(Name)), parent_(Parent), create_(std::move(Create)),
      properties_(std::move(Properties)) {}

std::vector<const TPropInfo*> TClassInfo::AllProperties() const {
    std::vector<const TPropInfo*> all = parent_ ? parent_->AllProperties()
                                                : std::vector<const TPropInfo*>{};
    for (const TPropInfo& p : properties_) all.push_back(&p);
    return all;
}

const TPropInfo* TClassInfo::FindProperty(const std::string& Name) const {
    for (const TClassInfo* c = this; c; c = c->parent_)
        for (const TPropInfo& p : c->properties_)
            if (p.Name == Name) return &p;
    return nullptr;
}

bool TClassInfo::InheritsFrom(const TClassInfo& Other) const {
    for (const TClassInfo* c = this; c; c = c->parent_)
        if (c == &Other) return true;
    return false;
}

bool TClassInfo::InheritsFrom(const std::string& ClassName) const {
    for (const TClassInfo* c = this; c; c = c->parent_)
        if (c->name_ == ClassName) return true;
    return false;
}

const TClassInfo& ComponentClassInfo() {
    static const TClassInfo info("TComponent", nullptr, nullptr, {});
    return info;
}

namespace {
std::map<std::string, const TClassInfo*>& Registry() {
    static std::map<std::string, const TClassInfo*> registry;
    return registry;
}
}  // namespace

void RegisterClass(const TClassInfo& Info) { Registry().emplace(Info.Name(), &Info); }

const TClassInfo* FindClass(const std::string& Name) {
    auto it = Registry().find(Name);
    return it == Registry().end() ? nullptr : it->second;
}

void ThrowEventTypeMismatch(const std::string& Event) {
    throw EAssertionFailed(Format("Handler of the wrong type for event %s", {Event}));
}

void ThrowComponentClassMismatch(const std::string& Property, const std::string& RefClass) {
    throw EAssertionFailed(Format("Property %s needs a component of class %s", {Property, RefClass}));
}

void ThrowKindMismatch(const std::string& Property) {
    throw EAssertionFailed(Format("Property %s: kind does not fit its type", {Property}));
}

}  // namespace quelvan::platform
