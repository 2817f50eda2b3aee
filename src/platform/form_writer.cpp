#include <sstream>

#include "platform/form_stream.h"
#include "platform/format.h"
#include "platform/properties.h"

namespace quelvan::platform {

namespace {

// Printable runs go between quotes; control characters as #nn, so a value never breaks the
// one-assignment-per-line layout.
std::string QuoteString(const std::string& s) {
    if (s.empty()) return "''";
    std::string out;
    bool quoted = false;
    for (char c : s) {
        auto u = static_cast<unsigned char>(c);
        bool control = u < 0x20 || u == 0x7f;
        if (control == quoted) {
            out += '\'';
            quoted = !quoted;
        }
        if (control) {
            out += "#" + std::to_string(u);
        } else {
            out += c;
            if (c == '\'') out += c;
        }
    }
    if (quoted) out += '\'';
    return out;
}

class TFormWriter {
public:
    TFormWriter(std::ostream& Out, const TComponent& Root) : out_(Out), root_(Root) {}

    void WriteRoot(const std::string& RootClass) {
        std::string cls = RootClass;
        if (cls.empty())
            cls = &root_.ClassInfo() == &ComponentClassInfo() ? "TForm" : root_.ClassInfo().Name();
        WriteHeader(root_, cls, 0);
        for (int i = 0; i < root_.ComponentCount(); ++i) WriteComponent(*root_.Components(i));
        out_ << "end\n";
    }

private:
    void WriteHeader(const TComponent& C, const std::string& Class, int Depth) {
        out_ << std::string(static_cast<size_t>(Depth) * 2, ' ') << "object ";
        if (!C.Name().empty()) out_ << C.Name() << ": ";
        out_ << Class << '\n';
    }

    void WriteComponent(const TComponent& C) {
        const TClassInfo& info = C.ClassInfo();
        if (FindClass(info.Name()) != &info)
            throw EAssertionFailed(Format("Class %s is not registered", {info.Name()}));
        WriteHeader(C, info.Name(), 1);
        for (const TPropInfo* p : info.AllProperties()) {
            if (!IsPropertyStored(C, *p)) continue;
            std::string value = ValueText(C, *p);
            if (!value.empty()) out_ << "    " << p->Name << " = " << value << '\n';
        }
        out_ << "  end\n";
    }

    // The value as the form writes it; "" for an event whose handler has no recorded name.
    std::string ValueText(const TComponent& C, const TPropInfo& P) const {
        if (P.Kind == TPropKind::Event) return C.EventHandlerName(P.Name);
        TPropValue v = P.Get(C);
        switch (P.Kind) {
        case TPropKind::Integer:
        case TPropKind::Unsigned:
            if (auto* s = std::get_if<int64_t>(&v)) return std::to_string(*s);
            return std::to_string(std::get<uint64_t>(v));
        case TPropKind::Boolean: return std::get<bool>(v) ? "True" : "False";
        case TPropKind::Enumeration: {
            std::string name = P.EnumName(std::get<int64_t>(v));
            if (name.empty())
                throw EAssertionFailed(Format("%s.%s has no identifier for %d",
                                              {C.Name(), P.Name, std::get<int64_t>(v)}));
            return name;
        }
        case TPropKind::String: return QuoteString(std::get<std::string>(v));
        default: return ReferenceName(C, P, std::get<TComponent*>(v));
        }
    }

    std::string ReferenceName(const TComponent& C, const TPropInfo& P, const TComponent* Target) const {
        bool nameable = !Target->Name().empty() &&
                        (Target == &root_ || root_.FindComponent(Target->Name()) == Target);
        if (!nameable)
            throw EAssertionFailed(
                Format("%s.%s refers to a component outside the form", {C.Name(), P.Name}));
        return Target->Name();
    }

    std::ostream& out_;
    const TComponent& root_;
};

}  // namespace

void WriteForm(std::ostream& Out, const TComponent& Root, const std::string& RootClass) {
    // Built aside first, so a failure leaves Out untouched.
    std::ostringstream text;
    TFormWriter(text, Root).WriteRoot(RootClass);
    Out << text.str();
    if (!Out) throw Exception("The form could not be written");
}

}  // namespace quelvan::platform
