#pragma once
// Small component classes for the component-model and form tests: one property of every kind,
// defaults, a stored predicate, a range-checked setter, references and events.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/component.h"
#include "platform/exceptions.h"
#include "platform/properties.h"

namespace quelvan::platform::testing {

enum TWidgetMode : uint8_t { wmOff, wmSlow, wmFast };

class TTestGadget;

class TTestWidget : public TComponent {
public:
    explicit TTestWidget(TComponent* Owner) : TComponent(Owner) { ++Live(); }
    ~TTestWidget() override {
        Destroying();
        --Live();
    }

    // Instances alive; a failed read must bring it back to where it was.
    static int& Live() {
        static int live = 0;
        return live;
    }
    // Names of widgets whose Loaded ran, in order.
    static std::vector<std::string>& LoadedLog() {
        static std::vector<std::string> log;
        return log;
    }

    int32_t Offset() const { return offset_; }
    void SetOffset(int32_t v) { offset_ = v; }
    int64_t Delta() const { return delta_; }
    void SetDelta(int64_t v) { delta_ = v; }
    uint16_t Count() const { return count_; }
    void SetCount(uint16_t v) { count_ = v; }
    uint32_t Limit() const { return limit_; }
    void SetLimit(uint32_t v) {
        if (v == 0) throw Exception("Value must be between 1 and 4294967295");
        limit_ = v;
    }
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool v) { enabled_ = v; }
    TWidgetMode Mode() const { return mode_; }
    void SetMode(TWidgetMode v) {
        mode_ = v;
        modeSetWhileLoading_ = IsLoading();
    }
    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& v) { caption_ = v; }
    std::string Port() const { return port_; }
    void SetPort(std::string v) { port_ = std::move(v); }
    TTestWidget* Peer() const { return peer_; }
    void SetPeer(TTestWidget* v) {
        if (peer_) RemoveFreeNotification(peer_);
        peer_ = v;
        if (peer_) FreeNotification(peer_);
    }
    TTestGadget* Gadget() const { return gadget_; }
    void SetGadget(TTestGadget* v);

    std::function<void(TTestWidget& Sender)> OnChange;

    bool ModeSetWhileLoading() const { return modeSetWhileLoading_; }
    bool LoadedCalled() const { return loadedCalled_; }
    bool LoadingDuringLoaded() const { return loadingDuringLoaded_; }
    const std::string& PeerAtLoaded() const { return peerAtLoaded_; }

    void Loaded() override {
        TComponent::Loaded();
        loadedCalled_ = true;
        loadingDuringLoaded_ = IsLoading();
        peerAtLoaded_ = peer_ ? peer_->Name() : "";
        LoadedLog().push_back(Name());
        if (caption_ == "fail in Loaded") throw Exception("Loaded failed for " + Name());
    }

    static const TClassInfo& StaticClassInfo() {
        static const TClassInfo info(
            "TTestWidget", &ComponentClassInfo(), [](TComponent* Owner) { return new TTestWidget(Owner); },
            {MakeProperty("Offset", TPropKind::Integer, &TTestWidget::Offset, &TTestWidget::SetOffset, 0),
             MakeProperty("Delta", TPropKind::Integer, &TTestWidget::Delta, &TTestWidget::SetDelta, 0),
             MakeProperty("Count", TPropKind::Unsigned, &TTestWidget::Count, &TTestWidget::SetCount, 10),
             MakeProperty("Limit", TPropKind::Unsigned, &TTestWidget::Limit, &TTestWidget::SetLimit, 1),
             MakeProperty("Enabled", TPropKind::Boolean, &TTestWidget::Enabled, &TTestWidget::SetEnabled, true),
             MakeEnumProperty("Mode", {"wmOff", "wmSlow", "wmFast"}, &TTestWidget::Mode,
                              &TTestWidget::SetMode, wmSlow),
             MakeProperty("Caption", TPropKind::String, &TTestWidget::Caption, &TTestWidget::SetCaption, ""),
             PortProperty(),
             MakeComponentProperty("Peer", "TTestWidget", &TTestWidget::Peer, &TTestWidget::SetPeer),
             MakeComponentProperty("Gadget", "TTestGadget", &TTestWidget::Gadget, &TTestWidget::SetGadget),
             MakeEventProperty("OnChange", &TTestWidget::OnChange)});
        return info;
    }
    const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    // Always stored by default (no Default), but the predicate leaves out "COM1".
    static TPropInfo PortProperty() {
        TPropInfo p = MakeProperty("Port", TPropKind::String, &TTestWidget::Port, &TTestWidget::SetPort);
        p.Stored = [](const TComponent& c) { return static_cast<const TTestWidget&>(c).Port() != "COM1"; };
        return p;
    }

    int32_t offset_ = 0;
    int64_t delta_ = 0;
    uint16_t count_ = 10;
    uint32_t limit_ = 1;
    bool enabled_ = true;
    TWidgetMode mode_ = wmSlow;
    std::string caption_;
    std::string port_ = "COM1";
    TTestWidget* peer_ = nullptr;
    TTestGadget* gadget_ = nullptr;
    bool modeSetWhileLoading_ = false;
    bool loadedCalled_ = false;
    bool loadingDuringLoaded_ = false;
    std::string peerAtLoaded_;
};

// Derived class: inherits the widget's properties and adds one with a negative default.
class TTestGadget : public TTestWidget {
public:
    explicit TTestGadget(TComponent* Owner) : TTestWidget(Owner) {}

    int16_t Volume() const { return volume_; }
    void SetVolume(int16_t v) { volume_ = v; }

    static const TClassInfo& StaticClassInfo() {
        static const TClassInfo info(
            "TTestGadget", &TTestWidget::StaticClassInfo(),
            [](TComponent* Owner) { return new TTestGadget(Owner); },
            {MakeProperty("Volume", TPropKind::Integer, &TTestGadget::Volume, &TTestGadget::SetVolume, -5)});
        return info;
    }
    const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

private:
    int16_t volume_ = -5;
};

inline void TTestWidget::SetGadget(TTestGadget* v) {
    if (gadget_) RemoveFreeNotification(gadget_);
    gadget_ = v;
    if (gadget_) FreeNotification(gadget_);
}

inline void TTestWidget::Notification(TComponent* AComponent, TOperation Operation) {
    if (Operation != opRemove) return;
    if (AComponent == peer_) peer_ = nullptr;
    if (AComponent == gadget_) gadget_ = nullptr;
}

// A registered class that cannot be instantiated.
inline const TClassInfo& AbstractClassInfo() {
    static const TClassInfo info("TTestAbstract", &ComponentClassInfo(), nullptr, {});
    return info;
}

inline void RegisterTestClasses() {
    RegisterClass(TTestWidget::StaticClassInfo());
    RegisterClass(TTestGadget::StaticClassInfo());
    RegisterClass(AbstractClassInfo());
}

}  // namespace quelvan::platform::testing
