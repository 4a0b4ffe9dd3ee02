#include <gtest/gtest.h>

#include "kit/text.h"

namespace {

TEST(Text, ParseNumberTakesWholeDecimalOrHexNumbersOnly) {
    struct Case { const char* text; uint64_t high; bool ok; uint64_t value; } cases[] = {
        {"42", 255, true, 42},     {"08", 255, true, 8},        {"0x1F", 255, true, 31}, {"0XfF", 255, true, 255},
        {"256", 255, false, 0},    {"0x100", 255, false, 0},    {"", 255, false, 0},     {"-1", 255, false, 0},
        {"+1", 255, false, 0},     {"12abc", 255, false, 0},    {"0x", 255, false, 0},   {" 1", 255, false, 0},
        {"18446744073709551616", UINT64_MAX, false, 0},
    };
    for (const Case& c : cases) {
        uint64_t v = 12345;
        EXPECT_EQ(kit::ParseNumber(c.text, c.high, v), c.ok) << c.text;
        if (c.ok) EXPECT_EQ(v, c.value) << c.text;
        else EXPECT_EQ(v, 12345u) << c.text << ": a refused number leaves the output alone";
    }
}

TEST(Text, SplitListTrimsAndDropsEmptyItems) {
    EXPECT_EQ(kit::SplitList(" a, b,,c ,"), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(kit::SplitList(""), std::vector<std::string>{});
    EXPECT_EQ(kit::SplitList("x;y", ';'), (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(kit::Trim("\t a b \r\n"), "a b");
    EXPECT_EQ(kit::Upper("vid_3a7c"), "VID_3A7C");
}

}  // namespace
