#include "platform/component.h"

#include <algorithm>

#include "platform/exceptions.h"
#include "platform/format.h"
#include "platform/properties.h"

namespace quelvan::platform {

namespace {

bool IsIdentifier(const std::string& s) {
    auto letter = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    };
    if (s.empty() || !letter(s[0])) return false;
    return std::all_of(s.begin() + 1, s.end(),
                       [&](char c) { return letter(c) || (c >= '0' && c <= '9'); });
}

void Erase(std::vector<TComponent*>& list, TComponent* c) {
    list.erase(std::remove(list.begin(), list.end(), c), list.end());
}

}  // namespace

TComponent::TComponent(TComponent* Owner) {
    if (Owner) Owner->InsertComponent(this);
}

TComponent::~TComponent() {
    Destroying();
    // Links made after Destroying (or all of them, when a derived destructor did not call it).
    NotifyFreeNotifies();
    // Each child leaves components_ from its own destructor.
    while (!components_.empty()) delete components_.back();
    // Only now do the links go: until here a partner that died first still told this one.
    UnlinkFreeNotifies();
    if (owner_) owner_->RemoveComponent(this);
}

void TComponent::SetName(const std::string& Name) {
    if (Name == name_) return;
    if (!Name.empty() && !IsIdentifier(Name))
        throw EAssertionFailed(Format("'%s' is not a valid component name", {Name}));
    if (owner_ && owner_->FindComponent(Name))
        throw EAssertionFailed(Format("A component named %s already exists", {Name}));
    name_ = Name;
}

void TComponent::SetDesigning(bool Value) {
    if (Value) state_.Include(csDesigning);
    else state_.Exclude(csDesigning);
    for (TComponent* c : components_) c->SetDesigning(Value);
}

void TComponent::Destroying() {
    if (IsDestroying()) return;
    state_.Include(csDestroying);
    // By index: a notified partner may destroy one of these components meanwhile.
    for (size_t i = 0; i < components_.size(); ++i) components_[i]->Destroying();
    NotifyFreeNotifies();
}

// Tells each partner once that this component is going, but keeps the links: an owner marks
// all its components at once, so a partner told here may still be destroyed before this
// component, and must then tell it (a client must not keep a pointer to a connection that
// died first).
void TComponent::NotifyFreeNotifies() {
    // A partner's Notification may add or remove links, so look again after each.
    for (;;) {
        auto untold = std::find_if(freeNotifies_.begin(), freeNotifies_.end(), [this](TComponent* c) {
            return std::find(told_.begin(), told_.end(), c) == told_.end();
        });
        if (untold == freeNotifies_.end()) return;
        TComponent* partner = *untold;
        told_.push_back(partner);
        partner->Notification(this, opRemove);
    }
}

void TComponent::UnlinkFreeNotifies() {
    NotifyFreeNotifies();
    while (!freeNotifies_.empty()) {
        TComponent* partner = freeNotifies_.back();
        freeNotifies_.pop_back();
        Erase(partner->freeNotifies_, this);
        Erase(partner->told_, this);
    }
    told_.clear();
}

TComponent* TComponent::Components(int Index) const {
    if (Index < 0 || Index >= ComponentCount())
        throw EAssertionFailed(Format("List index out of bounds (%d)", {Index}));
    return components_[static_cast<size_t>(Index)];
}

TComponent* TComponent::FindComponent(const std::string& Name) const {
    if (Name.empty()) return nullptr;
    for (TComponent* c : components_)
        if (c->name_ == Name) return c;
    return nullptr;
}

void TComponent::FreeNotification(TComponent* Target) {
    if (!Target || Target == this) return;
    if (std::find(freeNotifies_.begin(), freeNotifies_.end(), Target) != freeNotifies_.end())
        return;
    freeNotifies_.push_back(Target);
    Target->freeNotifies_.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* Target) {
    if (!Target) return;
    Erase(freeNotifies_, Target);
    Erase(told_, Target);
    Erase(Target->freeNotifies_, this);
    Erase(Target->told_, this);
}

void TComponent::Loaded() { EndLoading(); }

const TClassInfo& TComponent::ClassInfo() const { return ComponentClassInfo(); }

void TComponent::SetEventHandlerName(const std::string& Event, const std::string& Handler) {
    if (Handler.empty()) eventHandlerNames_.erase(Event);
    else eventHandlerNames_[Event] = Handler;
}

std::string TComponent::EventHandlerName(const std::string& Event) const {
    auto it = eventHandlerNames_.find(Event);
    return it == eventHandlerNames_.end() ? std::string() : it->second;
}

void TComponent::Notification(TComponent*, TOperation) {}

void TComponent::InsertComponent(TComponent* C) {
    components_.push_back(C);
    C->owner_ = this;
    if (IsDesigning()) C->SetDesigning(true);
    try {
        Notification(C, opInsert);
    } catch (...) {
        // The new component's constructor fails with this: it must not stay listed.
        Erase(components_, C);
        C->owner_ = nullptr;
        throw;
    }
}

void TComponent::RemoveComponent(TComponent* C) {
    Erase(components_, C);
    C->owner_ = nullptr;
    Notification(C, opRemove);
}

}  // namespace quelvan::platform
