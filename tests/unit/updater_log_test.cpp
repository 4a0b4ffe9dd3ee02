// The update log's line forms and the text-mode writer, byte for byte.
#include <gtest/gtest.h>

#include "update_log.h"
#include "updater_fakes.h"

namespace {

using tessaw::CStdioFileEx;

TEST(LogLines, FormsAsTheyLandOnDisk) {
    kit::LocalTime t{2024, 3, 9, 7, 5, 41, 6};
    struct Case {
        std::string text;
        std::string bytes;
    };
    for (const Case& c : {
             Case{tessaw::PlainLine("Update finished\r\n"), "----------------: Update finished\r\r\n"},
             Case{tessaw::ErrorLine("No matched device!\r\n"),
                  "----------------: Error: No matched device!\r\r\n"},
             Case{tessaw::DateLine(t), "\r\r\n2024/03/09    07:05\r\r\n"},
             Case{tessaw::RunStamp(t), "\r\r\nSat    2024-03-09\r\r\n07:05\r\r\n"},
             Case{tessaw::kClosingLine, "----------------: \r\n"},
             Case{"a\nb\n\n", "a\r\nb\r\n\r\n"},
             Case{"no line end", "no line end"},
             Case{"%s %d", "%s %d"},
         })
        EXPECT_EQ(tessaw::TextModeBytes(c.text), c.bytes);
}

TEST(LogLines, RunStampWeekdayNames) {
    const char* names[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    for (int d = 0; d < 7; ++d) {
        kit::LocalTime t{2024, 12, 31, 23, 59, 0, d};
        EXPECT_EQ(tessaw::RunStamp(t), std::string("\r\n") + names[d] + "    2024-12-31\r\n23:59\r\n");
    }
}

TEST(LogLines, SecondsStampIsSinglePrecisionTenWideThreeDecimals) {
    EXPECT_EQ(tessaw::SecondsStamp(250, 250), "     0.000\t");
    EXPECT_EQ(tessaw::SecondsStamp(250, 1484), "     1.234\t");
    EXPECT_EQ(tessaw::SecondsStamp(0, 123456789), "123456.789\t");
    // Beyond 2^24 ms a float no longer holds every millisecond.
    EXPECT_EQ(tessaw::SecondsStamp(0, 987654400), "987654.375\t");
    // The clock wraps around; the difference still counts forward.
    EXPECT_EQ(tessaw::SecondsStamp(0xFFFFFF00u, 0x00000100u), "     0.512\t");
}

TEST(LogLines, PathForEachSwitch) {
    EXPECT_EQ(tessaw::LogPathFor(0, "C:\\T\\"), "");
    EXPECT_EQ(tessaw::LogPathFor(1, "C:\\T\\"), "C:\\T\\FW Update Log.log");
    EXPECT_EQ(tessaw::LogPathFor(2, "C:\\T\\"), ".\\FW Update Log.log");
    EXPECT_EQ(tessaw::LogPathFor(3, "C:\\T\\"), "");
}

struct LogRig {
    twfakes::Machine machine;
    twfakes::Files files{machine};
    LogRig() { machine.currentDirectory = "C:\\Kit"; }
};

TEST(CStdioFileEx, WritesNothingUntilSwitchedOn) {
    LogRig rig;
    CStdioFileEx log(rig.files, rig.machine);
    log.WriteString("before\n");
    log.StampedWrite("before\n");
    log.Flush();
    EXPECT_FALSE(log.Open(0, ""));
    log.WriteString("off\n");
    EXPECT_FALSE(rig.files.Has(".\\FW Update Log.log"));
    EXPECT_EQ(rig.files.flushes, 0);
}

TEST(CStdioFileEx, AppendsToWhatEarlierRunsLeft) {
    LogRig rig;
    rig.files.Put(".\\FW Update Log.log", "earlier run\r\n----------------: \r\n");
    CStdioFileEx log(rig.files, rig.machine);
    ASSERT_TRUE(log.Open(2, ".\\FW Update Log.log"));
    log.WriteString(tessaw::PlainLine("Update finished\r\n"));
    log.Flush();
    log.Close();
    log.WriteString("after close\n");
    log.Flush();
    EXPECT_EQ(rig.files.Get(".\\FW Update Log.log"),
              "earlier run\r\n----------------: \r\n----------------: Update finished\r\r\n");
    EXPECT_EQ(rig.files.flushes, 1);
}

TEST(CStdioFileEx, StampedWritesCountFromTheWritersCreation) {
    LogRig rig;
    rig.machine.nowMs = 1000;
    CStdioFileEx log(rig.files, rig.machine);
    ASSERT_TRUE(log.Open(1, "C:\\Temp\\FW Update Log.log"));
    rig.machine.nowMs = 3500;
    log.StampedWrite(tessaw::PlainLine("Download Stage is: 1 / 2\r\n"));

    CStdioFileEx second(rig.files, rig.machine);  // created later, shares the stream
    second.ShareStreamOf(log);
    rig.machine.nowMs = 4000;
    second.StampedWrite("x\n");
    EXPECT_EQ(rig.files.Get("C:\\Temp\\FW Update Log.log"),
              "     2.500\t----------------: Download Stage is: 1 / 2\r\r\n     0.500\tx\r\n");
}

TEST(CStdioFileEx, SwitchOutsideTheRangeOrAnUnopenableFileLeavesLoggingOff) {
    LogRig rig;
    CStdioFileEx log(rig.files, rig.machine);
    EXPECT_FALSE(log.Open(3, ".\\FW Update Log.log"));
    EXPECT_FALSE(log.Open(-1, ".\\FW Update Log.log"));
    EXPECT_FALSE(log.On());
    rig.files.MakeUnopenable(".\\FW Update Log.log");
    EXPECT_FALSE(log.Open(2, ".\\FW Update Log.log"));
    EXPECT_FALSE(log.On());
    log.WriteString("dropped\n");
    log.Flush();
    EXPECT_FALSE(rig.files.Has(".\\FW Update Log.log"));
}

TEST(DebugTrace, ALongLineIsCutAt2047Characters) {
    kit::RecordingTrace trace;
    std::string path(3000, 'p');
    kit::TraceF(trace, "Success to open file %s\r\n", path.c_str());
    ASSERT_EQ(trace.lines.size(), 1u);
    EXPECT_EQ(trace.lines[0].size(), 2047u);
    EXPECT_EQ(trace.lines[0].substr(0, 21), "Success to open file ");
}

}  // namespace
