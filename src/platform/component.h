#pragma once
// Component model: ownership, names, component state, free notification and Loaded.
//
// An owner destroys the components it owns (last created first) when it is destroyed; a
// component destroyed on its own leaves its owner's list. Component names are identifiers,
// unique (case-sensitive) among the components of one owner.
//
// FreeNotification(Target) asks Target to call this->Notification(Target, opRemove) when
// Target is destroyed, so references to it can be cleared. The link is mutual, as in the
// classic component model: whichever of the two dies first notifies the other with opRemove
// and unregisters itself, so no side is ever left with a dangling link. The notice goes out
// once, when a component starts dying (see Destroying), but the link lasts until it is
// freed: when an owner destroys its components, all are told of each other's end first, and
// each still hears of a partner that is freed before it.
//
// Owned components are created with new: the owner deletes them. Notification must not raise
// (it is called from destructors).
//
// Derived destructors should call Destroying() first: it sets csDestroying (here and in every
// owned component) and sends the free notifications while the derived part is still intact,
// so a subscriber may still call the dying component (a client may unbind from a connection).
// A derived destructor that does not call it gets the notifications from ~TComponent, when
// only the TComponent part is left: subscribers must then only compare the pointer.
// Main thread only.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quelvan::platform {

class TClassInfo;

enum TComponentStateFlag : uint8_t { csLoading, csDesigning, csDestroying };

class TComponentState {
public:
    bool Contains(TComponentStateFlag f) const { return (bits_ & (1u << f)) != 0; }
    void Include(TComponentStateFlag f) { bits_ |= (1u << f); }
    void Exclude(TComponentStateFlag f) { bits_ &= ~(1u << f); }
    bool Empty() const { return bits_ == 0; }

private:
    uint8_t bits_ = 0;
};

enum TOperation : uint8_t { opInsert, opRemove };

class TComponent {
public:
    explicit TComponent(TComponent* Owner);
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return owner_; }
    const std::string& Name() const { return name_; }
    // Raises EAssertionFailed for a name that is not an identifier, or that a sibling
    // with the same owner already uses (empty names are always allowed).
    void SetName(const std::string& Name);

    TComponentState ComponentState() const { return state_; }
    bool IsLoading() const { return state_.Contains(csLoading); }
    bool IsDesigning() const { return state_.Contains(csDesigning); }
    bool IsDestroying() const { return state_.Contains(csDestroying); }

    // Design-time instances: propagated to owned components. A component created with a
    // designing owner is designing too.
    void SetDesigning(bool Value);
    // Used by the form reader around streaming in.
    void BeginLoading() { state_.Include(csLoading); }
    void EndLoading() { state_.Exclude(csLoading); }
    // Marks this component and its owned components as being destroyed and notifies the
    // free-notification partners (idempotent).
    void Destroying();

    int ComponentCount() const { return static_cast<int>(components_.size()); }
    // Owned components in creation order; raises EAssertionFailed for a bad index.
    TComponent* Components(int Index) const;
    // The owned component with this name, or null (also for an empty name).
    TComponent* FindComponent(const std::string& Name) const;

    // Null and this are ignored; registering twice keeps one link.
    void FreeNotification(TComponent* Target);
    void RemoveFreeNotification(TComponent* Target);

    // Called once after the form reader has set every property and resolved references;
    // csLoading is already clear. Overrides call the inherited Loaded first.
    virtual void Loaded();

    // Published-property metadata of the most derived class (see properties.h).
    virtual const TClassInfo& ClassInfo() const;

    // Names of the handlers bound to event properties by the form reader; the writer
    // stores them back. Applications that assign events in code may set them too.
    void SetEventHandlerName(const std::string& Event, const std::string& Handler);
    std::string EventHandlerName(const std::string& Event) const;

protected:
    // Called with opInsert/opRemove when an owned component is added/removed, and with
    // opRemove when a free-notification partner is destroyed. opInsert arrives from the new
    // component's TComponent constructor, before its derived part exists; opRemove for a
    // component destroyed on its own arrives from its ~TComponent. The link is already gone
    // when Notification runs. The default does nothing.
    virtual void Notification(TComponent* AComponent, TOperation Operation);

private:
    void InsertComponent(TComponent* C);
    void RemoveComponent(TComponent* C);
    void NotifyFreeNotifies();
    void UnlinkFreeNotifies();

    TComponent* owner_ = nullptr;
    std::string name_;
    TComponentState state_;
    std::vector<TComponent*> components_;      // owned, creation order
    std::vector<TComponent*> freeNotifies_;    // mutual free-notification links
    std::vector<TComponent*> told_;            // partners already told this one is going
    std::map<std::string, std::string> eventHandlerNames_;
};

}  // namespace quelvan::platform
