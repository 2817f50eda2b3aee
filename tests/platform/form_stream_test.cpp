#include "platform/form_stream.h"

#include <gtest/gtest.h>

#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "platform/properties.h"
#include "platform/test_components.h"

namespace quelvan::platform {
namespace {

using testing::TTestGadget;
using testing::TTestWidget;
using testing::wmFast;
using testing::wmOff;
using testing::wmSlow;

class FormStream : public ::testing::Test {
protected:
    void SetUp() override {
        testing::RegisterTestClasses();
        TTestWidget::LoadedLog().clear();
        handlers.Add("W1Change", std::function<void(TTestWidget&)>([this](TTestWidget&) { ++changes; }));
        handlers.Add("AlphaChange", std::function<void(TTestWidget&)>([](TTestWidget&) {}));
        handlers.Add("WrongType", std::function<void(int)>([](int) {}));
    }

    void Read(const std::string& text, TComponent& root) {
        std::istringstream in(text);
        ReadForm(in, root, handlers);
    }
    static std::string Write(const TComponent& root) {
        std::ostringstream out;
        WriteForm(out, root);
        return out.str();
    }
    static TTestWidget& Widget(const TComponent& root, const std::string& name) {
        auto* w = dynamic_cast<TTestWidget*>(root.FindComponent(name));
        if (!w) throw std::runtime_error("no widget " + name);
        return *w;
    }

    THandlerTable handlers;
    int changes = 0;
};

TEST_F(FormStream, ReadsEveryKindResolvesForwardReferencesAndLoadsInCreationOrder) {
    const std::string text =
        "// A form with every kind of value\n"
        "object MainForm: TForm\n"
        "  object W1: TTestWidget\n"
        "    Offset = -2147483648\n"
        "    Delta = $7FFFFFFFFFFFFFFF\n"
        "    Count = $ffff\n"
        "    Limit = 4294967295\n"
        "    Enabled = False\n"
        "    Mode = wmFast\n"
        "    Caption = 'It''s'#13#10'two lines'\n"
        "    Port = '/dev/ttyUSB0'  // a comment after a value\n"
        "    Peer = W2\n"
        "    Gadget = G1\n"
        "    OnChange = W1Change\n"
        "    object W2: TTestWidget\n"
        "      Peer = W1\n"
        "    end\n"
        "  end\n"
        "  object G1: TTestGadget\n"
        "    Volume = -32768\n"
        "    Delta = -9223372036854775808\n"
        "    Mode = wmOff\n"
        "  end\n"
        "end\n";
    TComponent root(nullptr);
    Read(text, root);

    EXPECT_EQ(root.Name(), "MainForm");
    ASSERT_EQ(root.ComponentCount(), 3);  // nested objects belong to the root too
    TTestWidget& w1 = Widget(root, "W1");
    TTestWidget& w2 = Widget(root, "W2");
    auto& g1 = dynamic_cast<TTestGadget&>(Widget(root, "G1"));
    EXPECT_EQ(root.Components(0), &w1);
    EXPECT_EQ(root.Components(1), &w2);
    EXPECT_EQ(w2.Owner(), &root);

    EXPECT_EQ(w1.Offset(), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(w1.Delta(), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(w1.Count(), 65535);
    EXPECT_EQ(w1.Limit(), 4294967295u);
    EXPECT_FALSE(w1.Enabled());
    EXPECT_EQ(w1.Mode(), wmFast);
    EXPECT_EQ(w1.Caption(), "It's\r\ntwo lines");
    EXPECT_EQ(w1.Port(), "/dev/ttyUSB0");
    EXPECT_EQ(w1.Peer(), &w2);
    EXPECT_EQ(w1.Gadget(), &g1);
    EXPECT_EQ(w2.Peer(), &w1);
    EXPECT_EQ(g1.Volume(), -32768);
    EXPECT_EQ(g1.Delta(), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(g1.Mode(), wmOff);
    EXPECT_EQ(g1.Count(), 10);  // untouched defaults stay

    ASSERT_TRUE(w1.OnChange);
    w1.OnChange(w1);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(w1.EventHandlerName("OnChange"), "W1Change");

    // Setters ran while loading; Loaded ran afterwards, in creation order, with references
    // (even forward ones) already resolved and csLoading clear.
    EXPECT_TRUE(w1.ModeSetWhileLoading());
    EXPECT_EQ(TTestWidget::LoadedLog(), (std::vector<std::string>{"W1", "W2", "G1"}));
    EXPECT_EQ(w1.PeerAtLoaded(), "W2");
    EXPECT_FALSE(w1.LoadingDuringLoaded());
    EXPECT_FALSE(g1.LoadingDuringLoaded());
    EXPECT_FALSE(w2.IsLoading());
}

struct BadForm {
    std::string text;
    int line;
    std::string message;
};

// Lines 1-6: a root with two good components (one nested), so each failure has something to
// undo.
const std::string kHead =
    "object Form1: TForm\n"
    "  object Good: TTestWidget\n"
    "    Count = 3\n"
    "    object Nested: TTestGadget\n"
    "    end\n"
    "  end\n";
std::string InW(const std::string& line) { return kHead + "  object W: TTestWidget\n" + line + "\n  end\nend\n"; }

const BadForm kBadForms[] = {
    {"", 1, "'object' expected but end of file found"},
    {"object Form1: TTestWidget\nend\n", 1, "Form class TTestWidget does not match the root's class TForm"},
    {"object Form1: TForm\n  Caption = 'x'\nend\n", 2, "The form's own properties are not streamed"},
    {kHead + "  object X: TNoSuchClass\n  end\nend\n", 7, "Unknown class TNoSuchClass"},
    {kHead + "  object X: TTestAbstract\n  end\nend\n", 7, "Class TTestAbstract cannot be created"},
    {kHead + "  object Good: TTestWidget\n  end\nend\n", 7, "A component named Good already exists"},
    {kHead + "  object Keep: TTestWidget\n  end\nend\n", 7, "A component named Keep already exists"},
    {kHead + "  object W:\n  end\nend\n", 7, "Class name expected but end of line found"},
    {kHead + "  object 'W': TTestWidget\n  end\nend\n", 7, "Class name expected but 'W' found"},
    {kHead + "  object W: TTestWidget extra\n  end\nend\n", 7, "End of line expected but 'extra' found"},
    {kHead + "  object W: TTestWidget\n    Count = 1\n", 8, "'end' expected but end of file found"},
    {kHead + "end\nend\n", 8, "End of file expected but 'end' found"},
    {InW("    Baud = 5"), 8, "Unknown property 'Baud'"},
    {InW("    Count 5"), 8, "'=' expected but 5 found"},
    {InW("    'Count' = 5"), 8, "Property name expected but 'Count' found"},
    {InW("    Count =\n 5"), 8, "Value expected for Count"},
    {InW("    Count = 1 2"), 8, "End of line expected but 2 found"},
    {InW("    Count = 1 @"), 8, "Invalid character '@'"},
    {InW("    \x01"), 8, "Invalid character #1"},
    {InW("    Count = 12ab"), 8, "Invalid number '12ab'"},
    {InW("    Count = '5'"), 8, "Integer expected for Count but '5' found"},
    {InW("    Enabled = 1"), 8, "True or False expected for Enabled but 1 found"},
    {InW("    Enabled = true"), 8, "True or False expected for Enabled but 'true' found"},
    {InW("    Caption = Hello"), 8, "String expected for Caption but 'Hello' found"},
    {InW("    Caption = 'abc"), 8, "Unterminated string"},
    {InW("    Caption = 'a'#256"), 8, "Invalid character code"},
    {InW("    Mode = wmTurbo"), 8, "wmTurbo is not a value of Mode"},
    {InW("    Mode = 2"), 8, "Identifier expected for Mode but 2 found"},
    {InW("    Count = 65536"), 8, "Value 65536 out of range for Count (0..65535)"},
    {InW("    Count = -1"), 8, "Value -1 out of range for Count (0..65535)"},
    {InW("    Limit = 4294967296"), 8, "out of range for Limit (0..4294967295)"},
    {InW("    Offset = 2147483648"), 8, "out of range for Offset (-2147483648..2147483647)"},
    {InW("    Offset = -2147483649"), 8, "out of range for Offset"},
    {InW("    Delta = 9223372036854775808"), 8, "out of range for Delta"},
    {InW("    Delta = -9223372036854775809"), 8, "out of range for Delta"},
    {InW("    Delta = 18446744073709551616"), 8, "Number out of range: 18446744073709551616"},
    {InW("    Limit = 0"), 8, "Error reading W.Limit: Value must be between 1 and 4294967295"},
    {InW("    Peer = 'W'"), 8, "Component name expected for Peer but 'W' found"},
    {InW("    Peer = Nobody"), 8, "Unknown component 'Nobody'"},
    {InW("    Gadget = Good"), 8, "Good is not a TTestGadget"},
    {InW("    OnChange = NoSuchHandler"), 8, "Unknown handler 'NoSuchHandler'"},
    {InW("    OnChange = WrongType"), 8, "Error reading W.OnChange: Handler of the wrong type for event OnChange"},
};

class BadFormRead : public FormStream, public ::testing::WithParamInterface<BadForm> {};

TEST_P(BadFormRead, RaisesNamingTheLineAndLeavesTheRootAsItWas) {
    const BadForm& c = GetParam();
    TComponent root(nullptr);
    root.SetName("Before");
    auto* keep = new TTestWidget(&root);
    keep->SetName("Keep");
    const int live = TTestWidget::Live();
    try {
        Read(c.text, root);
        ADD_FAILURE() << "no error for:\n" << c.text;
    } catch (const EFormError& e) {
        EXPECT_EQ(e.Line(), c.line) << e.Message();
        EXPECT_NE(e.Message().find("Line " + std::to_string(c.line) + ": "), std::string::npos) << e.Message();
        EXPECT_NE(e.Message().find(c.message), std::string::npos) << e.Message();
    }
    EXPECT_EQ(TTestWidget::Live(), live);
    ASSERT_EQ(root.ComponentCount(), 1);
    EXPECT_EQ(root.Components(0), keep);
    EXPECT_EQ(root.Name(), "Before");
    EXPECT_TRUE(TTestWidget::LoadedLog().empty());
}

INSTANTIATE_TEST_SUITE_P(Malformed, BadFormRead, ::testing::ValuesIn(kBadForms));

TEST_F(FormStream, DeepNestingIsRefusedWithoutExhaustingTheStack) {
    std::string text = "object Form1: TForm\n";
    for (int i = 0; i < 10000; ++i) text += "object TTestWidget\n";
    TComponent root(nullptr);
    EXPECT_THROW(Read(text, root), EFormError);
    EXPECT_EQ(root.ComponentCount(), 0);
}

TEST_F(FormStream, WritesOnlyStoredValuesAndReadsThemBack) {
    TComponent form(nullptr);
    form.SetName("Form1");
    auto* alpha = new TTestWidget(&form);
    auto* beta = new TTestWidget(&form);
    auto* gamma = new TTestGadget(&form);
    auto* unnamed = new TTestWidget(&form);
    alpha->SetName("Alpha");
    beta->SetName("Beta");
    gamma->SetName("Gamma");
    alpha->SetOffset(-7);
    alpha->SetDelta(std::numeric_limits<int64_t>::min());
    alpha->SetCount(0);
    alpha->SetLimit(4294967295u);
    alpha->SetEnabled(false);
    alpha->SetMode(wmOff);
    alpha->SetCaption("a'b\tc\x7f");
    alpha->SetPort("/dev/ttyS1");
    alpha->SetPeer(beta);
    alpha->SetGadget(gamma);
    alpha->OnChange = [](TTestWidget&) {};
    alpha->SetEventHandlerName("OnChange", "AlphaChange");
    beta->OnChange = [](TTestWidget&) {};  // assigned in code: no name to store
    gamma->SetPeer(alpha);
    gamma->SetVolume(300);
    gamma->SetMode(wmFast);
    unnamed->SetCaption("''");

    const std::string expected =
        "object Form1: TForm\n"
        "  object Alpha: TTestWidget\n"
        "    Offset = -7\n"
        "    Delta = -9223372036854775808\n"
        "    Count = 0\n"
        "    Limit = 4294967295\n"
        "    Enabled = False\n"
        "    Mode = wmOff\n"
        "    Caption = 'a''b'#9'c'#127\n"
        "    Port = '/dev/ttyS1'\n"
        "    Peer = Beta\n"
        "    Gadget = Gamma\n"
        "    OnChange = AlphaChange\n"
        "  end\n"
        "  object Beta: TTestWidget\n"
        "  end\n"
        "  object Gamma: TTestGadget\n"
        "    Mode = wmFast\n"
        "    Peer = Alpha\n"
        "    Volume = 300\n"
        "  end\n"
        "  object TTestWidget\n"
        "    Caption = ''''''\n"
        "  end\n"
        "end\n";
    const std::string text = Write(form);
    EXPECT_EQ(text, expected);

    TComponent copy(nullptr);
    Read(text, copy);
    ASSERT_EQ(copy.ComponentCount(), form.ComponentCount());
    for (int i = 0; i < form.ComponentCount(); ++i) {
        const TComponent& a = *form.Components(i);
        const TComponent& b = *copy.Components(i);
        ASSERT_EQ(&a.ClassInfo(), &b.ClassInfo());
        EXPECT_EQ(a.Name(), b.Name());
        for (const TPropInfo* p : a.ClassInfo().AllProperties()) {
            if (p->Kind == TPropKind::Event) {
                EXPECT_EQ(b.EventHandlerName(p->Name), a.EventHandlerName(p->Name)) << p->Name;
                continue;
            }
            TPropValue va = p->Get(a), vb = p->Get(b);
            if (p->Kind == TPropKind::Component) {
                auto name = [](const TPropValue& v) {
                    auto* c = std::get<TComponent*>(v);
                    return c ? c->Name() : std::string("(none)");
                };
                EXPECT_EQ(name(va), name(vb)) << b.Name() << "." << p->Name;
            } else {
                EXPECT_TRUE(SameValue(va, vb)) << b.Name() << "." << p->Name;
            }
        }
    }
    EXPECT_TRUE(Widget(copy, "Alpha").OnChange);
    EXPECT_FALSE(Widget(copy, "Beta").OnChange);
    EXPECT_EQ(Write(copy), expected);
}

TEST_F(FormStream, DefaultsAreNotWritten) {
    TComponent form(nullptr);
    auto* w = new TTestWidget(&form);
    w->SetName("W");
    new TTestGadget(&form);
    w->SetPort("COM1");  // left out by the stored predicate, though the property has no default
    EXPECT_EQ(Write(form),
              "object TForm\n"
              "  object W: TTestWidget\n"
              "  end\n"
              "  object TTestGadget\n"
              "  end\n"
              "end\n");
}

TEST_F(FormStream, RootOfAComponentClassKeepsItsClassName) {
    TTestWidget root(nullptr);
    root.SetName("Panel");
    (new TTestWidget(&root))->SetName("Inner");
    const std::string text = Write(root);
    EXPECT_EQ(text.substr(0, text.find('\n')), "object Panel: TTestWidget");

    TTestWidget other(nullptr);
    Read(text, other);
    EXPECT_EQ(other.Name(), "Panel");
    EXPECT_EQ(other.ComponentCount(), 1);
    EXPECT_FALSE(other.LoadedCalled());  // the root is not one of the new components
}

TEST_F(FormStream, WriterRefusesWhatCouldNotBeReadBack) {
    TComponent form(nullptr);
    TTestWidget outsider(nullptr);
    outsider.SetName("Outsider");
    auto* w = new TTestWidget(&form);
    w->SetName("W");
    w->SetPeer(&outsider);
    std::ostringstream out;
    EXPECT_THROW(WriteForm(out, form), EAssertionFailed);
    w->SetPeer(nullptr);

    new TComponent(&form);  // a class that no form can create
    EXPECT_THROW(WriteForm(out, form), EAssertionFailed);
    EXPECT_EQ(out.str(), "");
}

TEST_F(FormStream, EveryLoadedRunsAndTheFirstFailureIsRaisedAfterwards) {
    TComponent root(nullptr);
    try {
        Read("object TForm\n"
             "  object W1: TTestWidget\n"
             "    Caption = 'fail in Loaded'\n"
             "  end\n"
             "  object W2: TTestWidget\n"
             "  end\n"
             "end\n",
             root);
        ADD_FAILURE() << "Loaded's exception was lost";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Loaded failed for W1");
    }
    EXPECT_EQ(TTestWidget::LoadedLog(), (std::vector<std::string>{"W1", "W2"}));
    EXPECT_EQ(root.ComponentCount(), 2);
}

TEST_F(FormStream, ComponentsReadIntoADesigningRootAreDesigning) {
    TComponent root(nullptr);
    root.SetDesigning(true);
    Read("object TForm\n  object W: TTestWidget\n  end\nend\n", root);
    EXPECT_TRUE(root.Components(0)->IsDesigning());
}

TEST(PropertyMetadata, LookupInheritanceAndStoredValues) {
    const TClassInfo& gadget = TTestGadget::StaticClassInfo();
    std::vector<std::string> names;
    for (const TPropInfo* p : gadget.AllProperties()) names.push_back(p->Name);
    EXPECT_EQ(names.front(), "Offset");  // parents' properties first
    EXPECT_EQ(names.back(), "Volume");
    EXPECT_NE(gadget.FindProperty("Caption"), nullptr);
    EXPECT_EQ(TTestWidget::StaticClassInfo().FindProperty("Volume"), nullptr);
    EXPECT_TRUE(gadget.InheritsFrom(TTestWidget::StaticClassInfo()));
    EXPECT_TRUE(gadget.InheritsFrom("TComponent"));
    EXPECT_FALSE(TTestWidget::StaticClassInfo().InheritsFrom(gadget));

    const TPropInfo& mode = *gadget.FindProperty("Mode");
    EXPECT_EQ(mode.EnumName(2), "wmFast");
    EXPECT_EQ(mode.EnumName(3), "");
    EXPECT_EQ(mode.EnumName(-1), "");
    EXPECT_EQ(mode.EnumOrdinal("wmOff"), 0);
    EXPECT_EQ(mode.EnumOrdinal("wmoff"), -1);

    EXPECT_TRUE(SameValue(int64_t{5}, uint64_t{5}));
    EXPECT_FALSE(SameValue(int64_t{-1}, std::numeric_limits<uint64_t>::max()));
    EXPECT_FALSE(SameValue(int64_t{0}, false));

    // A TPropValue default is taken as is and compared by number.
    TTestWidget w(nullptr);
    const TPropInfo count = MakeProperty("Count", TPropKind::Unsigned, &TTestWidget::Count,
                                         &TTestWidget::SetCount, TPropValue(int64_t{10}));
    EXPECT_FALSE(IsPropertyStored(w, count));
    w.SetCount(11);
    EXPECT_TRUE(IsPropertyStored(w, count));

    // A kind its type cannot carry is refused when the table is built.
    EXPECT_THROW(MakeProperty("Caption", TPropKind::Integer, &TTestWidget::Caption, &TTestWidget::SetCaption),
                 EAssertionFailed);
    EXPECT_THROW(MakeProperty("Count", TPropKind::Integer, &TTestWidget::Count, &TTestWidget::SetCount),
                 EAssertionFailed);
}

}  // namespace
}  // namespace quelvan::platform
