#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "kit/profile.h"

namespace {

class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = (std::filesystem::temp_directory_path() /
                 ("profile_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".ini"))
                    .string();
    }
    void TearDown() override { std::remove(path_.c_str()); }
    void Write(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
    std::string Get(const char* section, const char* key, const char* def = "dflt", uint32_t size = 256) {
        std::string buf(size + 8, '#');
        uint32_t n = profile_.GetString(section, key, def, buf.data(), size, path_.c_str());
        EXPECT_EQ(buf[size], '#') << "wrote past the buffer";
        return std::string(buf.data(), n) + "|" + std::to_string(n);
    }
    // The raw list (NULs as '0') followed by the returned length.
    std::string List(uint32_t (kit::PortableProfile::*call)(const char*, char*, uint32_t, const char*),
                     const char* section, uint32_t size) {
        std::string buf(size + 8, '#');
        uint32_t n = (profile_.*call)(section, buf.data(), size, path_.c_str());
        EXPECT_EQ(buf[size], '#') << "wrote past the buffer";
        return Render(buf, n);
    }
    std::string Names(uint32_t size) {
        std::string buf(size + 8, '#');
        uint32_t n = profile_.GetSectionNames(buf.data(), size, path_.c_str());
        EXPECT_EQ(buf[size], '#') << "wrote past the buffer";
        return Render(buf, n);
    }
    static std::string Render(const std::string& buf, uint32_t n) {
        std::string out;
        // Show the returned characters plus the terminating NULs that the contract promises.
        for (uint32_t i = 0; i < n + 2 && i < buf.size(); ++i) out += buf[i] ? buf[i] : '0';
        return out + "|" + std::to_string(n);
    }

    std::string path_;
    kit::PortableProfile profile_;
};

const char* kConfig =
    "; leading comment\r\n"
    "orphan=before any section\r\n"
    "[FW_TOOL]\r\n"
    "  Version =  Korvath Tool 2.0  \r\n"
    "LogSwitch=1\r\n"
    "Quoted=\"a b\"\r\n"
    "Single='x'\r\n"
    "Half=\"abc\r\n"
    "Empty=\r\n"
    "NoEquals\r\n"
    "; comment = not a key\r\n"
    "Dup=first\r\n"
    "dup=second\r\n"
    "\r\n"
    "[ Config ]\n"
    "Config1 = A,B\n"
    "[fw_tool]\n"
    "Extra=never seen\n";

TEST_F(ProfileTest, ValueLookup) {
    Write(kConfig);
    struct Case { const char* section; const char* key; std::string expected; } cases[] = {
        {"FW_TOOL", "Version", "Korvath Tool 2.0|16"},       // blanks around '=' and value trimmed
        {"fw_tool", "VERSION", "Korvath Tool 2.0|16"},       // case-insensitive section and key
        {"FW_TOOL", "Quoted", "a b|3"},                      // one pair of quotes removed
        {"FW_TOOL", "Single", "x|1"},
        {"FW_TOOL", "Half", "\"abc|4"},                      // unmatched quote kept
        {"FW_TOOL", "Empty", "|0"},                          // present but empty: no default
        {"FW_TOOL", "NoEquals", "dflt|4"},                   // a line without '=' has no value
        {"FW_TOOL", "Dup", "first|5"},                       // first of duplicates
        {"FW_TOOL", "Extra", "dflt|4"},                      // only the first section of a name
        {"Config", "Config1", "A,B|3"},                      // blanks inside brackets trimmed
        {"FW_TOOL", "orphan", "dflt|4"},                     // keys before any section unreachable
        {"Missing", "Version", "dflt|4"},
        {"FW_TOOL", "; comment", "dflt|4"},
    };
    for (const Case& c : cases) EXPECT_EQ(Get(c.section, c.key), c.expected) << c.section << "/" << c.key;
}

TEST_F(ProfileTest, ValueIsCutToTheBuffer) {
    Write("[s]\nv=12\nq=\"abcd\"\n");
    EXPECT_EQ(Get("s", "v", "", 2), "1|1");
    EXPECT_EQ(Get("s", "v", "", 3), "12|2");
    EXPECT_EQ(Get("s", "v", "", 1), "|0");
    // Measured on the Win32 calls: a quoted value that just fits loses its last character too.
    EXPECT_EQ(Get("s", "q", "", 5), "abc|3");
    EXPECT_EQ(Get("s", "q", "", 6), "abcd|4");
    EXPECT_EQ(Get("s", "missing", "default", 4), "def|3");
}

TEST_F(ProfileTest, DefaultLosesTrailingBlanksAndQuotes) {
    Write("[s]\n");
    EXPECT_EQ(Get("s", "k", "abc  "), "abc|3");
    EXPECT_EQ(Get("s", "k", "'q'"), "q|1");
    EXPECT_EQ(Get("s", "k", nullptr), "|0");
}

TEST_F(ProfileTest, MissingFileGivesDefaultsAndEmptyLists) {
    std::remove(path_.c_str());
    EXPECT_EQ(Get("s", "k", "d"), "d|1");
    EXPECT_EQ(Names(16), "0#|0");
    EXPECT_EQ(List(&kit::PortableProfile::GetSection, "s", 16), "00|0");
    EXPECT_EQ(profile_.GetInt("s", "k", 7, path_.c_str()), 7u);
}

TEST_F(ProfileTest, SectionKeepsOrderQuotesAndLinesWithoutEquals) {
    Write(kConfig);
    EXPECT_EQ(List(&kit::PortableProfile::GetSection, "FW_TOOL", 256),
              "Version=Korvath Tool 2.00LogSwitch=10Quoted=\"a b\"0Single='x'0Half=\"abc0Empty=0"
              "NoEquals0Dup=first0dup=second00#|108");
    EXPECT_EQ(List(&kit::PortableProfile::GetSection, "nothere", 16), "00|0");
}

TEST_F(ProfileTest, KeyNamesLeaveOutLinesWithoutEquals) {
    Write("[s]\na=1\nplain\nb=2\n");
    std::string buf(64, '#');
    uint32_t n = profile_.GetString("s", nullptr, "", buf.data(), 64, path_.c_str());
    EXPECT_EQ(std::string(buf.data(), n + 1), std::string("a\0b\0\0", 5));
}

TEST_F(ProfileTest, ListsAreCutToTheBuffer) {
    Write("[s]\nalpha=1\nbeta=2\n[Second]\n[Third]\n");
    EXPECT_EQ(List(&kit::PortableProfile::GetSection, "s", 9), "alpha=100|7");
    EXPECT_EQ(List(&kit::PortableProfile::GetSection, "s", 12), "alpha=10be00|10");
    EXPECT_EQ(Names(64), "s0Second0Third00#|15");
    EXPECT_EQ(Names(9), "s0Secon0#|7");
    EXPECT_EQ(Names(1), "0#|0");
}

// A one-character buffer: every call answers with the terminator alone and returns 0. (Found by
// fuzzing: a quoted value and a section's lists wrote one byte before the buffer.)
TEST_F(ProfileTest, OneCharacterBufferHoldsOnlyTheTerminator) {
    Write("[s]\nq=''\nd=\"x\"\nk=v\nplain\n");
    EXPECT_EQ(Get("s", "q", "", 1), "|0");
    EXPECT_EQ(Get("s", "d", "", 1), "|0");
    EXPECT_EQ(Get("s", "missing", "'z'", 1), "|0");
    EXPECT_EQ(Get("s", nullptr, "", 1), "|0");
    EXPECT_EQ(List(&kit::PortableProfile::GetSection, "s", 1), "0#|0");
    // Two characters: still no room for a name and its two terminators.
    EXPECT_EQ(List(&kit::PortableProfile::GetSection, "s", 2), "00|0");
    EXPECT_EQ(Get("s", "q", "", 2), "|0");
}

TEST_F(ProfileTest, Integers) {
    Write("[n]\na=42\nb= -7\nc=0x1F\nd=12abc\ne=abc\nf=\n");
    struct Case { const char* key; uint32_t expected; } cases[] = {
        {"a", 42}, {"b", static_cast<uint32_t>(-7)}, {"c", 31}, {"d", 12}, {"e", 0}, {"f", 5}, {"g", 5},
    };
    for (const Case& c : cases) EXPECT_EQ(profile_.GetInt("n", c.key, 5, path_.c_str()), c.expected) << c.key;
}

TEST(SplitNulList, StopsAtTheDoubleNulOrTheLength) {
    const char buf[] = "A\0BC\0\0D";
    EXPECT_EQ(kit::SplitNulList(buf, 6), (std::vector<std::string>{"A", "BC"}));
    EXPECT_EQ(kit::SplitNulList(buf, 0), std::vector<std::string>{});
}

}  // namespace
