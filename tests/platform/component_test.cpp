#include "platform/component.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <memory>
#include <string>
#include <vector>

#include "platform/exceptions.h"
#include "platform/test_components.h"

namespace quelvan::platform {
namespace {

using testing::TTestWidget;
using Log = std::vector<std::string>;

// Logs what happens to it: its destruction and every notification it receives.
class TProbe : public TComponent {
public:
    TProbe(TComponent* Owner, const std::string& Name, Log& L) : TComponent(Owner), log_(L) {
        SetName(Name);
    }
    ~TProbe() override {
        Destroying();
        log_.push_back("destroy " + Name() + (Owner() && Owner()->IsDestroying() ? " (owner dying)" : ""));
    }
    bool ThrowOnInsert = false;

protected:
    void Notification(TComponent* C, TOperation Op) override {
        if (Op == opInsert) {
            if (ThrowOnInsert) throw EAssertionFailed("no more components");
            log_.push_back(Name() + ": insert");
            return;
        }
        // Whole: the dying component's derived part still exists (it called Destroying first).
        log_.push_back(Name() + ": remove " + C->Name() + (C->IsDestroying() ? " dying" : "") +
                       (dynamic_cast<TProbe*>(C) ? " whole" : ""));
    }

private:
    Log& log_;
};

TEST(ComponentOwnership, OwnerDestroysOwnedComponentsLastCreatedFirst) {
    Log log;
    auto* owner = new TProbe(nullptr, "Owner", log);
    new TProbe(owner, "A", log);
    new TProbe(owner, "B", log);
    new TProbe(owner, "C", log);
    EXPECT_EQ(log, (Log{"Owner: insert", "Owner: insert", "Owner: insert"}));
    ASSERT_EQ(owner->ComponentCount(), 3);
    EXPECT_EQ(owner->Components(2)->Name(), "C");
    EXPECT_EQ(owner->Components(0)->Owner(), owner);

    log.clear();
    delete owner;
    EXPECT_EQ(log, (Log{"destroy Owner", "destroy C (owner dying)", "destroy B (owner dying)",
                        "destroy A (owner dying)"}));
}

TEST(ComponentOwnership, ComponentDestroyedOnItsOwnLeavesItsOwner) {
    Log log;
    auto owner = std::make_unique<TProbe>(nullptr, "Owner", log);
    auto* a = new TProbe(owner.get(), "A", log);
    auto* b = new TProbe(owner.get(), "B", log);
    auto* c = new TProbe(owner.get(), "C", log);
    log.clear();

    delete b;
    EXPECT_EQ(log, (Log{"destroy B", "Owner: remove B dying"}));
    ASSERT_EQ(owner->ComponentCount(), 2);
    EXPECT_EQ(owner->Components(0), a);
    EXPECT_EQ(owner->Components(1), c);
    EXPECT_EQ(owner->FindComponent("B"), nullptr);
    EXPECT_THROW(owner->Components(2), EAssertionFailed);
    EXPECT_THROW(owner->Components(-1), EAssertionFailed);
    // The owner still deletes the other two exactly once (the sanitizer build checks this).
}

TEST(ComponentOwnership, FailedInsertLeavesNoDanglingEntry) {
    Log log;
    TProbe owner(nullptr, "Owner", log);
    owner.ThrowOnInsert = true;
    EXPECT_THROW(new TProbe(&owner, "A", log), EAssertionFailed);
    EXPECT_EQ(owner.ComponentCount(), 0);
}

TEST(ComponentNames, MustBeIdentifiers) {
    struct Case {
        const char* name;
        bool valid;
    };
    const Case cases[] = {{"A", true},       {"_x", true},      {"Conn1", true},  {"a_b_9", true},
                          {"", true},        {"1abc", false},   {"a b", false},   {"a-b", false},
                          {"a.b", false},    {"\xC3\xA4", false}, {" A", false}, {"A\n", false}};
    for (const Case& c : cases) {
        TComponent comp(nullptr);
        comp.SetName("Old");
        if (c.valid) {
            EXPECT_NO_THROW(comp.SetName(c.name)) << c.name;
            EXPECT_EQ(comp.Name(), c.name);
        } else {
            EXPECT_THROW(comp.SetName(c.name), EAssertionFailed) << c.name;
            EXPECT_EQ(comp.Name(), "Old");
        }
    }
}

TEST(ComponentNames, UniqueAmongSiblingsOnly) {
    TComponent owner(nullptr), other(nullptr);
    auto* a = new TComponent(&owner);
    auto* b = new TComponent(&owner);
    auto* elsewhere = new TComponent(&other);
    a->SetName("Conn1");
    EXPECT_THROW(b->SetName("Conn1"), EAssertionFailed);
    EXPECT_EQ(b->Name(), "");
    EXPECT_NO_THROW(elsewhere->SetName("Conn1"));
    EXPECT_NO_THROW(a->SetName("Conn1"));  // its own name again
    EXPECT_NO_THROW(b->SetName("conn1"));  // names are case-sensitive
    a->SetName("");
    b->SetName("");  // any number of unnamed siblings
    EXPECT_NO_THROW(b->SetName("Conn1"));
    EXPECT_EQ(owner.FindComponent("Conn1"), b);
    EXPECT_EQ(owner.FindComponent(""), nullptr);
}

TEST(FreeNotification, DestroyedTargetIsClearedFromSubscriber) {
    auto holder = std::make_unique<TTestWidget>(nullptr);
    auto* peer = new TTestWidget(nullptr);
    holder->SetPeer(peer);
    delete peer;
    EXPECT_EQ(holder->Peer(), nullptr);
}

TEST(FreeNotification, IsMutualWhicheverSideDiesFirst) {
    Log log;
    auto* p1 = new TProbe(nullptr, "P1", log);
    auto* p2 = new TProbe(nullptr, "P2", log);
    p1->FreeNotification(p2);
    p1->FreeNotification(p2);  // one link only
    delete p1;
    EXPECT_EQ(log, (Log{"P2: remove P1 dying whole", "destroy P1"}));

    log.clear();
    delete p2;  // p2 must no longer know p1 (the sanitizer build checks the access)
    EXPECT_EQ(log, (Log{"destroy P2"}));
}

TEST(FreeNotification, RemovedOrIgnoredLinksNotifyNobody) {
    Log log;
    auto p1 = std::make_unique<TProbe>(nullptr, "P1", log);
    auto* p2 = new TProbe(nullptr, "P2", log);
    p1->FreeNotification(p2);
    p2->RemoveFreeNotification(p1.get());  // either side may remove the link
    p1->FreeNotification(nullptr);
    p1->FreeNotification(p1.get());
    delete p2;
    EXPECT_EQ(log, (Log{"destroy P2"}));
}

TEST(FreeNotification, OwnerDestructionMarksOwnedComponentsDestroyingBeforeNotifying) {
    Log log;
    auto watcher = std::make_unique<TProbe>(nullptr, "Watcher", log);
    auto* owner = new TProbe(nullptr, "Owner", log);
    auto* child = new TProbe(owner, "Child", log);
    watcher->FreeNotification(child);
    log.clear();
    delete owner;
    // The watcher hears of the child while the owner's destruction starts, with the child
    // already marked and still whole.
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "Watcher: remove Child dying whole");
}

// An owner tells all its components of their end at once, then frees them last first: each
// of two partners must still hear of the other, or the one freed second keeps a pointer to
// the first (a client created before its connection would unbind from a freed connection).
TEST(FreeNotification, PartnersUnderOneOwnerHearOfEachOtherOnce) {
    Log log;
    auto* owner = new TProbe(nullptr, "Owner", log);
    auto* first = new TProbe(owner, "First", log);
    auto* second = new TProbe(owner, "Second", log);
    first->FreeNotification(second);
    log.clear();
    delete owner;
    EXPECT_EQ(std::count(log.begin(), log.end(), "First: remove Second dying whole"), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "Second: remove First dying whole"), 1);
    EXPECT_EQ(log.back(), "destroy First (owner dying)");
}

TEST(ComponentState, DesigningPropagatesToOwnedAndNewComponents) {
    TComponent root(nullptr);
    auto* child = new TComponent(&root);
    auto* grandchild = new TComponent(child);
    root.SetDesigning(true);
    EXPECT_TRUE(child->IsDesigning());
    EXPECT_TRUE(grandchild->IsDesigning());
    auto* late = new TComponent(child);
    EXPECT_TRUE(late->IsDesigning());

    root.SetDesigning(false);
    EXPECT_FALSE(grandchild->IsDesigning());
    EXPECT_FALSE(late->IsDesigning());
    EXPECT_TRUE(root.ComponentState().Empty());
}

TEST(ComponentState, LoadingFlagAndEventHandlerNames) {
    TComponent c(nullptr);
    c.BeginLoading();
    EXPECT_TRUE(c.IsLoading());
    c.Loaded();  // the inherited Loaded ends loading
    EXPECT_FALSE(c.IsLoading());

    c.SetEventHandlerName("OnChange", "Form1Change");
    EXPECT_EQ(c.EventHandlerName("OnChange"), "Form1Change");
    c.SetEventHandlerName("OnChange", "");
    EXPECT_EQ(c.EventHandlerName("OnChange"), "");
}

}  // namespace
}  // namespace quelvan::platform
