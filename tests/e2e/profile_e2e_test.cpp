// The portable INI reader against the real GetPrivateProfile* calls: the same files and queries,
// answered by wine and natively, must agree byte for byte.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "profile_queries.h"
#include "wine.h"

namespace {

struct ProfileCase {
    const char* name;
    const char* text;
    std::vector<std::string> queries;
};

const ProfileCase kCases[] = {
    {"values",
     "; comment\r\norphan=1\r\n[FW_TOOL]\r\n  Version =  Tool 2.0  \r\nLogSwitch=1\r\nQuoted=\"a b\"\r\n"
     "Single='x'\r\nHalf=\"abc\r\nEmpty=\r\nNoEquals\r\n; c=1\r\nDup=first\r\ndup=second\r\n\r\n[ Config ]\n"
     "Config1 = A,B\n[fw_tool]\nExtra=1\n",
     {"S|FW_TOOL|Version|d|256", "S|fw_tool|VERSION|d|256", "S|FW_TOOL|Quoted|d|256", "S|FW_TOOL|Single|d|256",
      "S|FW_TOOL|Half|d|256", "S|FW_TOOL|Empty|d|256", "S|FW_TOOL|NoEquals|d|256", "S|FW_TOOL|Dup|d|256",
      "S|FW_TOOL|Extra|d|256", "S|Config|Config1|d|256", "S|FW_TOOL|orphan|d|256", "S|Nope|Version|d|256",
      "S|FW_TOOL|Missing|abc  |256", "S|FW_TOOL|Missing|'q'|256", "S|FW_TOOL|Missing|~|256",
      "C|FW_TOOL|256", "C|Config|256", "C|Nope|16", "N|256", "S|~|~|d|256", "S|FW_TOOL|~|d|256"}},
    {"cuts",
     "[s]\nv=12\nq=\"abcd\"\nalpha=1\nbeta=2\n[Second]\n[Third]\n",
     {"S|s|v||2", "S|s|v||3", "S|s|v||1", "S|s|q||5", "S|s|q||6", "S|s|q||4", "S|s|missing|default|4",
      "C|s|9", "C|s|12", "C|s|3", "C|s|2", "N|9", "N|64", "N|2", "N|1", "S|~|~||9", "S|s|~||7"}},
    {"integers",
     "[n]\na=42\nb= -7\nc=0x1F\nd=12abc\ne=abc\nf=\ng=+5\n",
     {"I|n|a|5", "I|n|b|5", "I|n|c|5", "I|n|d|5", "I|n|e|5", "I|n|f|5", "I|n|g|5", "I|n|missing|-3"}},
};

// Asks wine and the portable reader the same queries about one file.
void Compare(const e2e::fs::path& dir, const e2e::fs::path& file, const std::vector<std::string>& queries) {
    std::vector<std::string> args{e2e::WindowsPath(file)};
    args.insert(args.end(), queries.begin(), queries.end());
    e2e::RunOptions options;
    options.workingDirectory = dir;
    e2e::RunResult r = e2e::RunWine(e2e::TestProgram("profile_probe.exe"), args, options);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::istringstream real(r.out);
    kit::PortableProfile portable;
    for (const std::string& q : queries) {
        std::string line;
        std::getline(real, line);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        EXPECT_EQ(e2e::AnswerQuery(portable, file.string(), q), line) << file.filename();
    }
}

TEST(ProfileE2E, PortableReaderAgreesWithTheWin32Calls) {
    auto dir = e2e::FreshWorkDir("profile");
    for (const ProfileCase& c : kCases) {
        auto file = dir / (std::string(c.name) + ".ini");
        std::ofstream(file, std::ios::binary) << c.text;
        Compare(dir, file, c.queries);
    }
    Compare(dir, dir / "missing.ini", {"S|s|k|d|16", "C|s|16", "N|16", "I|s|k|7"});
}

}  // namespace
