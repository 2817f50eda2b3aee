#include <gtest/gtest.h>

#include <vector>

#include "platform/line_mark_decoder.h"

using quelvan::platform::TLineMarkDecoder;
using Bytes = std::vector<uint8_t>;

namespace {

struct Case {
    const char* What;
    Bytes In;
    Bytes Out;
    uint32_t Breaks, BadChars;
};

const Case kCases[] = {
    {"plain data", {0x01, 0x03, 0x00, 0x7F}, {0x01, 0x03, 0x00, 0x7F}, 0, 0},
    {"doubled FF is one data FF", {0x01, 0xFF, 0xFF, 0x02}, {0x01, 0xFF, 0x02}, 0, 0},
    {"two data FFs", {0xFF, 0xFF, 0xFF, 0xFF}, {0xFF, 0xFF}, 0, 0},
    {"break", {0x01, 0xFF, 0x00, 0x00, 0x02}, {0x01, 0x02}, 1, 0},
    {"parity error keeps the character", {0xFF, 0x00, 0x41, 0x42}, {0x41, 0x42}, 0, 1},
    {"bad FF", {0xFF, 0x00, 0xFF}, {0xFF}, 0, 1},
    {"marks back to back", {0xFF, 0x00, 0x00, 0xFF, 0x00, 0x07, 0xFF, 0xFF}, {0x07, 0xFF}, 1, 1},
    {"stray FF is kept as data", {0xFF, 0x41}, {0xFF, 0x41}, 0, 0},
};

Bytes Decode(TLineMarkDecoder& D, const Bytes& In, size_t From, size_t To, TLineMarkDecoder::TMarks& M) {
    Bytes out;
    D.Feed(In.data() + From, To - From, out, M);
    return out;
}

}  // namespace

// Reads may split a mark anywhere: every split must decode like the whole.
TEST(LineMarkDecoder, DecodesMarksAtEverySplit) {
    for (const Case& c : kCases) {
        for (size_t cut = 0; cut <= c.In.size(); ++cut) {
            TLineMarkDecoder d;
            TLineMarkDecoder::TMarks m;
            Bytes out = Decode(d, c.In, 0, cut, m);
            const Bytes rest = Decode(d, c.In, cut, c.In.size(), m);
            out.insert(out.end(), rest.begin(), rest.end());
            EXPECT_EQ(out, c.Out) << c.What << ", cut at " << cut;
            EXPECT_EQ(m.Breaks, c.Breaks) << c.What << ", cut at " << cut;
            EXPECT_EQ(m.BadChars, c.BadChars) << c.What << ", cut at " << cut;
            EXPECT_FALSE(d.InsideMark()) << c.What;
        }
        TLineMarkDecoder d;
        TLineMarkDecoder::TMarks m;
        Bytes out;
        for (uint8_t b : c.In) d.Feed(&b, 1, out, m);
        EXPECT_EQ(out, c.Out) << c.What << ", byte by byte";
    }
}

TEST(LineMarkDecoder, ResetForgetsAPartialMark) {
    TLineMarkDecoder d;
    TLineMarkDecoder::TMarks m;
    Bytes out;
    const Bytes head = {0x01, 0xFF, 0x00};
    d.Feed(head.data(), head.size(), out, m);
    EXPECT_TRUE(d.InsideMark());
    d.Reset();
    const Bytes next = {0x00, 0x05};
    d.Feed(next.data(), next.size(), out, m);
    EXPECT_EQ(out, (Bytes{0x01, 0x00, 0x05}));
    EXPECT_EQ(m.Breaks, 0u);
}
