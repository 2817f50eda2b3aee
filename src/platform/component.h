#pragma once
// Component model: ownership, names, component state, free notification and Loaded.
//
// An owner destroys the components it owns (last created first) when it is destroyed.
// FreeNotification(Target) asks Target to call this->Notification(Target, opRemove) when
// Target is destroyed, so references to it can be cleared. Registration is mutual: whichever
// of the two dies first unregisters itself from the other.
//
// Derived destructors should call Destroying() first, so csDestroying is visible to anyone
// notified while the derived part is torn down. Main thread only.

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

    // Design-time instances: propagated to owned components.
    void SetDesigning(bool Value);
    // Used by the form reader around streaming in.
    void BeginLoading() { state_.Include(csLoading); }
    void EndLoading() { state_.Exclude(csLoading); }
    // Marks the component as being destroyed (idempotent).
    void Destroying();

    int ComponentCount() const { return static_cast<int>(components_.size()); }
    TComponent* Components(int Index) const;
    TComponent* FindComponent(const std::string& Name) const;

    void FreeNotification(TComponent* Target);
    void RemoveFreeNotification(TComponent* Target);

    // Called once after the form reader has set every property and resolved references.
    virtual void Loaded();

    // Published-property metadata of the most derived class (see properties.h).
    virtual const TClassInfo& ClassInfo() const;

    // Names of the handlers bound to event properties by the form reader; the writer
    // stores them back. Applications that assign events in code may set them too.
    void SetEventHandlerName(const std::string& Event, const std::string& Handler);
    std::string EventHandlerName(const std::string& Event) const;

protected:
    // Called with opInsert/opRemove when an owned component is added/removed, and with
    // opRemove when a component this one asked for free notification is destroyed.
    virtual void Notification(TComponent* AComponent, TOperation Operation);

private:
    void InsertComponent(TComponent* C);
    void RemoveComponent(TComponent* C);

    TComponent* owner_ = nullptr;
    std::string name_;
    TComponentState state_;
    std::vector<TComponent*> components_;      // owned, creation order
    std::vector<TComponent*> freeNotifies_;    // mutual free-notification links
    std::map<std::string, std::string> eventHandlerNames_;
};

}  // namespace quelvan::platform
