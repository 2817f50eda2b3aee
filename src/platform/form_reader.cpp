#include <algorithm>
#include <cstdint>
#include <exception>
#include <iterator>
#include <sstream>
#include <vector>

#include "platform/detail/form_lexer.h"
#include "platform/form_stream.h"
#include "platform/properties.h"

namespace quelvan::platform {

using detail::TFormLexer;
using detail::TFormToken;
using detail::TFormTokenKind;

EFormError::EFormError(int Line, const std::string& What)
    : Exception("Line " + std::to_string(Line) + ": " + What), line_(Line) {}

const std::any* THandlerTable::Find(const std::string& Name) const {
    auto it = handlers_.find(Name);
    return it == handlers_.end() ? nullptr : &it->second;
}

namespace {

// Deeper nesting than any real form; the limit keeps hostile input off the stack's end.
constexpr int kMaxDepth = 64;

class TFormReader {
public:
    TFormReader(std::string Text, TComponent& Root, const THandlerTable& Handlers)
        : lex_(std::move(Text)), root_(Root), handlers_(Handlers) {}

    void Read();

private:
    struct Fixup {
        TComponent* Component;
        const TPropInfo* Prop;
        std::string Target;
        int Line;
    };

    void ReadRoot();
    void ReadObjectHeader(std::string& Name, std::string& Class, int& Line);
    void ReadBody(TComponent* Component, int Depth);
    void ReadProperty(TComponent& C, const TFormToken& Name);
    TPropValue Convert(const TPropInfo& P, const TFormToken& V) const;
    TPropValue ConvertInteger(const TPropInfo& P, const TFormToken& V) const;
    void Assign(TComponent& C, const TPropInfo& P, const TPropValue& V, int Line);
    void BindHandler(TComponent& C, const TPropInfo& P, const TFormToken& V);
    void ResolveReferences();
    void FinishLoading();
    void Rollback();

    TFormToken Expect(int Line, TFormTokenKind Kind, const std::string& What, const char* Text = nullptr);
    void ExpectLineEnd(int Line);
    [[noreturn]] static void Fail(int Line, const std::string& What) { throw EFormError(Line, What); }
    [[noreturn]] static void WrongKind(const TPropInfo& P, const TFormToken& V, const char* Expected);
    [[noreturn]] static void SetterFailed(const TComponent& C, const TPropInfo& P, int Line,
                                          const std::exception& E);

    TFormLexer lex_;
    TComponent& root_;
    const THandlerTable& handlers_;
    std::string oldRootName_;
    std::vector<TComponent*> created_;
    std::vector<Fixup> fixups_;
};

void TFormReader::Read() {
    oldRootName_ = root_.Name();
    try {
        ReadRoot();
        ResolveReferences();
    } catch (...) {
        Rollback();
        throw;
    }
    FinishLoading();
}

// The next token, which must be of Kind (and Text, when given) and still on Line.
TFormToken TFormReader::Expect(int Line, TFormTokenKind Kind, const std::string& What, const char* Text) {
    const TFormToken& t = lex_.Peek();
    const bool sameLine = t.Kind == TFormTokenKind::EndOfText || t.Line == Line;
    if (!sameLine || t.Kind != Kind || (Text && t.Text != Text))
        Fail(Line, What + " expected but " + (sameLine ? t.Describe() : "end of line") + " found");
    return lex_.Next();
}

void TFormReader::ExpectLineEnd(int Line) {
    const TFormToken& t = lex_.Peek();
    if (t.Kind != TFormTokenKind::EndOfText && t.Line == Line)
        Fail(Line, "End of line expected but " + t.Describe() + " found");
}

void TFormReader::ReadObjectHeader(std::string& Name, std::string& Class, int& Line) {
    if (!lex_.Peek().Is(TFormTokenKind::Identifier, "object"))
        Fail(lex_.Peek().Line, "'object' expected but " + lex_.Peek().Describe() + " found");
    Line = lex_.Next().Line;
    Class = Expect(Line, TFormTokenKind::Identifier, "Class name").Text;
    Name.clear();
    if (lex_.Peek().Is(TFormTokenKind::Symbol, ":") && lex_.Peek().Line == Line) {
        lex_.Next();
        Name = std::move(Class);
        Class = Expect(Line, TFormTokenKind::Identifier, "Class name").Text;
    }
    ExpectLineEnd(Line);
}

void TFormReader::ReadRoot() {
    std::string name, cls;
    int line = 0;
    ReadObjectHeader(name, cls, line);
    const TClassInfo& info = root_.ClassInfo();
    const std::string& expected = &info == &ComponentClassInfo() ? std::string("TForm") : info.Name();
    if (cls != expected) Fail(line, "Form class " + cls + " does not match the root's class " + expected);
    if (!name.empty()) {
        try {
            root_.SetName(name);
        } catch (const Exception& e) {
            Fail(line, e.Message());
        }
    }
    ReadBody(nullptr, 1);
    if (lex_.Peek().Kind != TFormTokenKind::EndOfText)
        Fail(lex_.Peek().Line, "End of file expected but " + lex_.Peek().Describe() + " found");
}

// Reads properties and nested objects up to the matching "end"; Component is null for the
// root, whose own properties are not streamed.
void TFormReader::ReadBody(TComponent* Component, int Depth) {
    for (;;) {
        const TFormToken& t = lex_.Peek();
        if (t.Is(TFormTokenKind::Identifier, "end")) {
            int line = lex_.Next().Line;
            ExpectLineEnd(line);
            return;
        }
        if (t.Is(TFormTokenKind::Identifier, "object")) {
            if (Depth >= kMaxDepth) Fail(t.Line, "Objects nested too deeply");
            std::string name, cls;
            int line = 0;
            ReadObjectHeader(name, cls, line);
            const TClassInfo* info = FindClass(cls);
            if (!info) Fail(line, "Unknown class " + cls);
            TComponent* c = nullptr;
            try {
                c = info->Create(&root_);
                if (!c) Fail(line, "Class " + cls + " cannot be created");
                created_.push_back(c);
                c->BeginLoading();
                c->SetName(name);
            } catch (const EFormError&) {
                throw;
            } catch (const std::exception& e) {
                Fail(line, e.what());
            }
            ReadBody(c, Depth + 1);
            continue;
        }
        if (t.Kind == TFormTokenKind::EndOfText) Fail(t.Line, "'end' expected but end of file found");
        if (t.Kind != TFormTokenKind::Identifier)
            Fail(t.Line, "Property name expected but " + t.Describe() + " found");
        TFormToken name = lex_.Next();
        if (!Component) Fail(name.Line, "The form's own properties are not streamed ('" + name.Text + "')");
        ReadProperty(*Component, name);
    }
}

void TFormReader::ReadProperty(TComponent& C, const TFormToken& Name) {
    const TPropInfo* p = C.ClassInfo().FindProperty(Name.Text);
    if (!p) Fail(Name.Line, "Unknown property '" + Name.Text + "'");
    Expect(Name.Line, TFormTokenKind::Symbol, "'='", "=");
    if (lex_.Peek().Kind == TFormTokenKind::EndOfText || lex_.Peek().Line != Name.Line)
        Fail(Name.Line, "Value expected for " + Name.Text);
    TFormToken v = lex_.Next();
    ExpectLineEnd(v.Line);
    if (p->Kind == TPropKind::Component) {
        if (v.Kind != TFormTokenKind::Identifier) WrongKind(*p, v, "Component name");
        fixups_.push_back({&C, p, v.Text, v.Line});
    } else if (p->Kind == TPropKind::Event) {
        BindHandler(C, *p, v);
    } else {
        Assign(C, *p, Convert(*p, v), v.Line);
    }
}

void TFormReader::WrongKind(const TPropInfo& P, const TFormToken& V, const char* Expected) {
    Fail(V.Line, std::string(Expected) + " expected for " + P.Name + " but " + V.Describe() + " found");
}

TPropValue TFormReader::Convert(const TPropInfo& P, const TFormToken& V) const {
    switch (P.Kind) {
    case TPropKind::Integer:
    case TPropKind::Unsigned:
        if (V.Kind != TFormTokenKind::Integer) WrongKind(P, V, "Integer");
        return ConvertInteger(P, V);
    case TPropKind::Boolean:
        if (V.Is(TFormTokenKind::Identifier, "True")) return true;
        if (V.Is(TFormTokenKind::Identifier, "False")) return false;
        WrongKind(P, V, "True or False");
    case TPropKind::Enumeration: {
        if (V.Kind != TFormTokenKind::Identifier) WrongKind(P, V, "Identifier");
        int64_t ordinal = P.EnumOrdinal(V.Text);
        if (ordinal < 0) Fail(V.Line, V.Text + " is not a value of " + P.Name);
        return ordinal;
    }
    case TPropKind::String:
        if (V.Kind != TFormTokenKind::String) WrongKind(P, V, "String");
        return V.Text;
    default:
        Fail(V.Line, "Property " + P.Name + " cannot be read");
    }
}

// The literal must fit the property's kind and its C++ type, so no value wraps.
TPropValue TFormReader::ConvertInteger(const TPropInfo& P, const TFormToken& V) const {
    const bool isSigned = P.Kind == TPropKind::Integer;
    const int64_t min = isSigned ? P.MinValue : std::max<int64_t>(P.MinValue, 0);
    const uint64_t max = isSigned ? std::min<uint64_t>(P.MaxValue, INT64_MAX) : P.MaxValue;
    // -min as a magnitude, computed without overflowing for INT64_MIN.
    const uint64_t minMagnitude = min < 0 ? static_cast<uint64_t>(-(min + 1)) + 1 : 0;
    bool fits = V.Negative ? (min < 0 && V.Magnitude <= minMagnitude)
                           : (V.Magnitude <= max && (min <= 0 || V.Magnitude >= static_cast<uint64_t>(min)));
    if (!fits)
        Fail(V.Line, "Value " + V.Text + " out of range for " + P.Name + " (" +
                         std::to_string(min) + ".." + std::to_string(max) + ")");
    if (!isSigned) return V.Magnitude;
    return V.Negative ? static_cast<int64_t>(0 - V.Magnitude) : static_cast<int64_t>(V.Magnitude);
}

void TFormReader::SetterFailed(const TComponent& C, const TPropInfo& P, int Line,
                               const std::exception& E) {
    const std::string& who = C.Name().empty() ? C.ClassInfo().Name() : C.Name();
    Fail(Line, "Error reading " + who + "." + P.Name + ": " + E.what());
}

void TFormReader::Assign(TComponent& C, const TPropInfo& P, const TPropValue& V, int Line) {
    try {
        P.Set(C, V);
    } catch (const std::exception& e) {
        SetterFailed(C, P, Line, e);
    }
}

void TFormReader::BindHandler(TComponent& C, const TPropInfo& P, const TFormToken& V) {
    if (V.Kind != TFormTokenKind::Identifier) WrongKind(P, V, "Handler name");
    const std::any* handler = handlers_.Find(V.Text);
    if (!handler) Fail(V.Line, "Unknown handler '" + V.Text + "'");
    try {
        P.BindEvent(C, *handler);
    } catch (const std::exception& e) {
        SetterFailed(C, P, V.Line, e);
    }
    C.SetEventHandlerName(P.Name, V.Text);
}

void TFormReader::ResolveReferences() {
    for (const Fixup& f : fixups_) {
        TComponent* target = f.Target == root_.Name() ? &root_ : root_.FindComponent(f.Target);
        if (!target) Fail(f.Line, "Unknown component '" + f.Target + "'");
        if (!f.Prop->ComponentClass.empty() && !target->ClassInfo().InheritsFrom(f.Prop->ComponentClass))
            Fail(f.Line, f.Target + " is not a " + f.Prop->ComponentClass);
        Assign(*f.Component, *f.Prop, target, f.Line);
    }
}

// Every component is complete before any Loaded runs, so a Loaded may rely on its peers.
void TFormReader::FinishLoading() {
    for (TComponent* c : created_) c->EndLoading();
    std::exception_ptr first;
    for (TComponent* c : created_) {
        try {
            c->Loaded();
        } catch (...) {
            if (!first) first = std::current_exception();
        }
    }
    if (first) std::rethrow_exception(first);
}

void TFormReader::Rollback() {
    for (auto it = created_.rbegin(); it != created_.rend(); ++it) delete *it;
    created_.clear();
    try {
        root_.SetName(oldRootName_);
    } catch (...) {
        // Cannot happen: the old name was valid and unique before the read.
    }
}

}  // namespace

void ReadForm(std::istream& In, TComponent& Root, const THandlerTable& Handlers) {
    std::string text{std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
    if (In.bad()) throw EFormError(1, "The form could not be read");
    TFormReader(std::move(text), Root, Handlers).Read();
}

}  // namespace quelvan::platform
