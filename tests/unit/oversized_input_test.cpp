// Every fixed-size buffer of the portable code, fed an input one size too large (and, where the
// limit is an edge, the largest input that still fits): each is refused with a message or cut at a
// boundary that cannot change what the input means. Kestrim's 128-byte line and 8-byte parameter,
// Tessac's 32- and 260-byte buffers, the 2,047-character trace and Orlinde's 65,536-byte Sonix
// image have their cases beside the rest of their program's tests.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "config.h"
#include "flashtool/core/settings.h"
#include "flashtool/core/write_tool.h"
#include "flashtool/testing/orlinde_fakes.h"
#include "session.h"
#include "updater/testing/updater_fakes.h"

namespace {

using testing::AssertionFailure;
using testing::AssertionResult;
using testing::AssertionSuccess;

bool Traced(const kit::RecordingTrace& trace, const std::string& part) {
    for (const std::string& line : trace.lines)
        if (line.find(part) != std::string::npos) return true;
    return false;
}

// Files and the INI reader over them, on a machine of their own.
struct IniFiles {
    twfakes::Machine machine;
    twfakes::Files files{machine};
    twfakes::Profile profile{files};
};

// "C:\" and folders of 'k' up to a program path of exactly `chars` characters.
std::string PathOf(size_t chars, const std::string& program) {
    std::string folder = "C:\\";
    while (folder.size() + 1 + program.size() < chars) folder += folder.size() % 100 == 99 ? '\\' : 'k';
    return folder + "\\" + program;
}

AssertionResult TessawProgramPath(size_t chars) {
    twfakes::Rig rig;
    rig.machine.modulePath = PathOf(chars, "Tessaw.exe");
    rig.Start("");
    const std::string folder = rig.machine.modulePath.substr(0, rig.machine.modulePath.rfind('\\') + 1);
    if (chars < tessaw::kPathChars) {
        // Fits: RvcLib.dll is taken from the program's own folder.
        if (rig.libraries.byPath.empty() || rig.libraries.byPath[0] != folder + "RvcLib.dll")
            return AssertionFailure() << "RvcLib.dll not loaded from " << folder;
        return AssertionSuccess();
    }
    if (rig.session->ExitCode() != 16) return AssertionFailure() << "exit code " << rig.session->ExitCode();
    const std::string why =
        "The folder path of the program is too long: Tessaw.exe's full path has more than 299 characters; "
        "move the kit to a shorter folder!\r\n";
    if (!Traced(rig.trace, why)) return AssertionFailure() << "no message saying why";
    // The packager sees the reason, not a missing RvcLib.dll that is in fact there.
    if (rig.dialog.boxes.size() != 1 || rig.dialog.boxes[0].text != why || !rig.dialog.boxes[0].errorIcon)
        return AssertionFailure() << "the message box does not say why";
    if (!rig.libraries.byPath.empty() || !rig.libraries.byName.empty())
        return AssertionFailure() << "a library was loaded from a cut path";
    return AssertionSuccess();
}

AssertionResult OrlindeFolder(size_t chars) {
    orfakes::Rig rig;
    rig.machine.modulePath = PathOf(chars, "Orlinde.exe");
    rig.Settings();
    if (!rig.Start()) return AssertionFailure() << "start-up failed";
    const std::string folder = rig.machine.modulePath.substr(0, rig.machine.modulePath.rfind('\\'));
    if (chars < orlinde::kFolderChars) {
        if (rig.tool->Folder() != folder) return AssertionFailure() << "folder " << rig.tool->Folder();
        return AssertionSuccess();
    }
    if (rig.tool->LogText().find("The tool's path is longer than 259 characters: move the tool to a shorter "
                                 "folder.\r\n") == std::string::npos)
        return AssertionFailure() << "log: " << rig.tool->LogText();
    if (rig.scripted.switches != 0 || !rig.libraries.byName.empty())
        return AssertionFailure() << "a camera was identified against a cut folder";
    if (rig.dialog.enabled[orlinde::kIdcFlash]) return AssertionFailure() << "Flash is enabled";
    return AssertionSuccess();
}

AssertionResult OrlindeQuelmarImage(size_t bytes) {
    orfakes::Rig rig;
    rig.Settings();
    rig.PidIni("[PID_B5A4]\r\nBIN=fw.bin\r\nModuleID=MOD-1\r\n");
    rig.Bin("fw.bin", orfakes::Image(bytes));
    if (!rig.Start()) return AssertionFailure() << "start-up failed";
    const bool loaded = rig.tool->Loaded();
    if (bytes <= orlinde::kImageBytes) {
        if (!loaded || rig.tool->ImageSize() != bytes) return AssertionFailure() << "a file that fits was refused";
        return AssertionSuccess();
    }
    if (loaded) return AssertionFailure() << "an image larger than the buffer was taken";
    if (rig.tool->LogText().find("File C:\\Bench\\bin\\fw.bin has 196609 bytes, more than the 196608 bytes it may "
                                 "have, not used.\r\n") == std::string::npos)
        return AssertionFailure() << "log: " << rig.tool->LogText();
    return AssertionSuccess();
}

// config.ini's [Config] of `entries` lines of 40 characters with their terminators: 1,638 of them
// fill 65,520 of the 65,534 characters a 65,536-character read returns, and the camera's entry that
// follows is cut ("SysID_XXXX_PID" and nothing more).
AssertionResult TessawConfigSection(size_t fillers) {
    IniFiles ini;
    kit::RecordingTrace trace;
    std::string section = "[Config]\r\n";
    for (size_t i = 0; i < fillers; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "SysID_0000_PID_0000_ModID_00=f%05zu.bin\r\n", i);
        section += line;
    }
    section += "SysID_XXXX_PID_B5A4_ModID_01=FW_B5A4_01.bin\r\n";
    ini.files.Put(twfakes::kDir + "\\config.ini", section);
    ini.machine.currentDirectory = twfakes::kDir;
    std::vector<tessaw::FirmwareEntry> entries;
    if (!tessaw::ReadConfigSection(ini.profile, trace, ".\\config.ini", entries))
        return AssertionFailure() << "not read";
    const bool cut = Traced(trace, "[Config] of config.ini does not fit in 65536 characters");
    if (fillers < 1638) {
        if (cut || entries.size() != fillers + 1 || entries.back().binName != "FW_B5A4_01.bin")
            return AssertionFailure() << entries.size() << " entries, cut " << cut;
        return AssertionSuccess();
    }
    if (!cut) return AssertionFailure() << "no message saying the section was cut";
    // 65,520 characters hold 1,638 whole lines; the one cut after them is not used.
    if (entries.size() != 1638) return AssertionFailure() << entries.size() << " entries";
    for (const tessaw::FirmwareEntry& e : entries)
        if (e.pid != "0000") return AssertionFailure() << "cut entry used: PID " << e.pid;
    return AssertionSuccess();
}

// pid.ini with `count` sections "[PID_nnnn]": 100 of their names fill 900 of the 1,000 characters
// the section-name list is read with; every name returned must be whole.
AssertionResult OrlindePidSections(size_t count) {
    IniFiles ini;
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        char section[64];
        std::snprintf(section, sizeof section, "[PID_%04zu]\r\nBIN=a.bin\r\n", i);
        text += section;
    }
    ini.files.Put("C:\\Bench\\pid.ini", text);
    const orlinde::PidSections list = orlinde::ReadPidSections(ini.profile, "C:\\Bench\\pid.ini");
    const size_t fit = std::min<size_t>(count, (orlinde::kSectionListChars - 2) / 9);
    if (list.sections.size() != fit || !list.skipped.empty())
        return AssertionFailure() << list.sections.size() << " sections, " << list.skipped.size() << " skipped";
    for (size_t i = 0; i < list.sections.size(); ++i)
        if (list.sections[i].name.size() != orlinde::kPidSectionChars)
            return AssertionFailure() << "cut name " << list.sections[i].name;
    return AssertionSuccess();
}

struct Case {
    const char* buffer;
    std::function<AssertionResult()> feed;
};

TEST(OversizedInput, EveryFixedBufferRefusesOrCutsSafely) {
    const Case cases[] = {
        {"Tessaw's 300-character program path, 299 characters", [] { return TessawProgramPath(299); }},
        {"Tessaw's 300-character program path, 300 characters", [] { return TessawProgramPath(300); }},
        {"Tessaw's 300-character program path, 4,000 characters", [] { return TessawProgramPath(4000); }},
        {"Orlinde's 260-character folder, 259 characters", [] { return OrlindeFolder(259); }},
        {"Orlinde's 260-character folder, 260 characters", [] { return OrlindeFolder(260); }},
        {"Orlinde's 196,608-byte image, 196,608 bytes", [] { return OrlindeQuelmarImage(0x30000); }},
        {"Orlinde's 196,608-byte image, 196,609 bytes", [] { return OrlindeQuelmarImage(0x30001); }},
        {"Tessaw's 65,536-character INI read, a section that fits", [] { return TessawConfigSection(1637); }},
        {"Tessaw's 65,536-character INI read, a section that does not", [] { return TessawConfigSection(1638); }},
        {"Tessaw's 65,536-character INI read, a section twice as long", [] { return TessawConfigSection(3300); }},
        {"Orlinde's 2,000-byte section list, 100 names", [] { return OrlindePidSections(100); }},
        {"Orlinde's 2,000-byte section list, 111 names", [] { return OrlindePidSections(111); }},
        {"Orlinde's 2,000-byte section list, 400 names", [] { return OrlindePidSections(400); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.buffer);
        EXPECT_TRUE(c.feed());
    }
}

}  // namespace
