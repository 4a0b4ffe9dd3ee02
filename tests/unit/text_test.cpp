#include <gtest/gtest.h>

#include "kit/text.h"
#include "kit/trace.h"

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

TEST(FailureLineTest, AFailedCallReadsAsTextOnOneLine) {
    struct Case {
        const char* what;
        uint32_t code;
        const char* systemText;
        const char* line;
    } cases[] = {
        {"IKsControl::KsProperty", 0x80070057u, "The parameter is incorrect.\r\n",
         "IKsControl::KsProperty failed: 0x80070057 (The parameter is incorrect.)\n"},
        {"IMoniker::BindToObject", 0x80040217u, "", "IMoniker::BindToObject failed: 0x80040217\n"},
        {"CoInitialize", 0x80010106u, " \r\n", "CoInitialize failed: 0x80010106\n"},
        {nullptr, 1u, "Incorrect function.", "call failed: 0x00000001 (Incorrect function.)\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(kit::FailureLine(c.what, c.code, c.systemText), c.line) << c.line;
}

TEST(FailureLineTest, OnlyAFailureIsTraced) {
    kit::RecordingTrace trace;
    kit::TraceHresult(trace, "S_OK", 0);
    kit::TraceHresult(trace, "S_FALSE", 1);
    kit::TraceHresult(trace, "E_FAIL", static_cast<int32_t>(0x80004005u));
    kit::TraceWin32Error(trace, "ERROR_SUCCESS", 0);
    kit::TraceWin32Error(trace, "ERROR_ACCESS_DENIED", 5);
    ASSERT_EQ(trace.lines.size(), 2u);
    EXPECT_EQ(trace.lines[0].rfind("E_FAIL failed: 0x80004005", 0), 0u);
    EXPECT_EQ(trace.lines[1].rfind("ERROR_ACCESS_DENIED failed: 0x00000005", 0), 0u);
}
