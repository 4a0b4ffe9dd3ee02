// The guides against the programs: every table of docs/*.md that is marked "<!-- drift: NAME -->"
// is read and compared with the kit's own constants, or with what the programs' cores do when run
// over the test doubles, so that a key, exit code, message or picture the guides name cannot
// differ from the one the programs use. A code span in a table cell (`...`) holds the exact text,
// with \r, \n and \t written as in C; `""` is the empty text.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "flashtool/core/settings.h"
#include "flashtool/core/texts.h"
#include "kestrim.h"
#include "templates.h"
#include "kit/version.h"
#include "tessac.h"
#include "updater/core/driver_check.h"
#include "updater/core/firmware_file.h"
#include "updater/core/session.h"
#include "updater/core/sonix_flow.h"
#include "updater/core/texts.h"
#include "updater/core/text_util.h"
#include "updater/stillcap/still_graph.h"
#include "updater_fakes.h"

namespace {

// ---------------------------------------------------------------------------------------------
// Reading the guides

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Doc(const std::string& name) { return Slurp(std::string(KIT_SOURCE_DIR) + "/docs/" + name); }

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r"), e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// C escapes of a code span undone.
std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size() && std::string("rnt").find(s[i + 1]) != std::string::npos) {
            out += s[i + 1] == 'r' ? '\r' : s[i + 1] == 'n' ? '\n' : '\t';
            ++i;
        } else {
            out += s[i];
        }
    }
    return out == "\"\"" ? std::string() : out;
}

// The first code span of a cell, unescaped; nothing when the cell has none.
std::optional<std::string> Code(const std::string& cell) {
    size_t open = cell.find('`');
    if (open == std::string::npos) return std::nullopt;
    size_t close = cell.find('`', open + 1);
    if (close == std::string::npos) return std::nullopt;
    return Unescape(cell.substr(open + 1, close - open - 1));
}

// Cells of a table row; a "|" inside a code span belongs to the cell.
std::vector<std::string> Cells(const std::string& line) {
    std::vector<std::string> cells;
    std::string cell;
    bool code = false;
    for (char c : Trim(line)) {
        if (c == '`') code = !code;
        if (c == '|' && !code) {
            cells.push_back(Trim(cell));
            cell.clear();
        } else {
            cell += c;
        }
    }
    // A row starts and ends with "|": drop the empty cells outside them.
    if (!cells.empty()) cells.erase(cells.begin());
    return cells;
}

// The rows (header and separator left out) of the table after "<!-- drift: NAME -->".
std::vector<std::vector<std::string>> Table(const std::string& doc, const std::string& name) {
    const std::string marker = "<!-- drift: " + name + " -->";
    size_t at = doc.find(marker);
    EXPECT_NE(at, std::string::npos) << "no table marked " << marker;
    std::vector<std::vector<std::string>> rows;
    if (at == std::string::npos) return rows;
    std::istringstream in(doc.substr(at + marker.size()));
    std::string line;
    std::getline(in, line);  // the rest of the marker's line
    int seen = 0;
    while (std::getline(in, line) && Trim(line).rfind('|', 0) == 0)
        if (++seen > 2) rows.push_back(Cells(line));
    EXPECT_FALSE(rows.empty()) << "the table marked " << marker << " has no rows";
    return rows;
}

std::string Cell(const std::vector<std::string>& row, size_t i) { return i < row.size() ? row[i] : ""; }
std::string CodeOf(const std::vector<std::string>& row, size_t i) { return Code(Cell(row, i)).value_or(""); }

// A printf format as a pattern that its output matches.
std::regex FormatPattern(const std::string& format) {
    std::string re;
    for (size_t i = 0; i < format.size(); ++i) {
        char c = format[i];
        if (c == '%' && i + 1 < format.size()) {
            std::string conv;
            while (++i < format.size() && std::string("0123456789.l").find(format[i]) != std::string::npos) {
            }
            conv = format[i];
            re += conv == "s" ? "[^\\r\\n]*" : conv == "%" ? "%" : "-?[0-9A-Fa-f.]+";
            continue;
        }
        if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) re += '\\';
        re += c;
    }
    return std::regex(re);
}

// ---------------------------------------------------------------------------------------------
// Tessaw (docs/packaging.md)

// Every private-profile read, by file name without its folder.
class RecordingProfile final : public kit::ProfileReader {
public:
    explicit RecordingProfile(kit::ProfileReader& real) : real_(real) {}
    std::set<std::vector<std::string>> reads;  // {file, section, key, default}

    uint32_t GetString(const char* section, const char* key, const char* def, char* out, uint32_t size,
                       const char* file) override {
        reads.insert({Base(file), section ? section : "", key ? key : "", def ? def : ""});
        return real_.GetString(section, key, def, out, size, file);
    }
    uint32_t GetSection(const char* section, char* out, uint32_t size, const char* file) override {
        reads.insert({Base(file), section, "(every line)", ""});
        return real_.GetSection(section, out, size, file);
    }
    uint32_t GetSectionNames(char* out, uint32_t size, const char* file) override {
        return real_.GetSectionNames(out, size, file);
    }
    uint32_t GetInt(const char* section, const char* key, int32_t def, const char* file) override {
        reads.insert({Base(file), section, key, std::to_string(def)});
        return real_.GetInt(section, key, def, file);
    }

private:
    static std::string Base(const std::string& path) { return path.substr(path.find_last_of("\\/") + 1); }
    kit::ProfileReader& real_;
};

// A session of the rig's, over a recording profile when one is given.
void MakeSession(twfakes::Rig& rig, kit::ProfileReader& profile, const std::string& commandLine = "-s") {
    tessaw::SessionPorts ports{rig.dialog, rig.trace,    profile,   rig.machine, rig.files,
                               rig.machine, rig.programs, rig.usb,   rig.still,   rig.registry,
                               rig.libraries, rig.threads, rig.sonix};
    rig.session = std::make_unique<tessaw::UpdateSession>(commandLine, ports, rig.flows);
    rig.dialog.session = rig.session.get();
}

TEST(PackagingGuide, NamesEveryKeyTessawReadsWithItsDefault) {
    twfakes::Rig rig;
    RecordingProfile profile(rig.profile);
    MakeSession(rig, profile);
    ASSERT_TRUE(rig.session->OnInitDialog());
    rig.Flash();
    rig.dialog.Pump();
    ASSERT_EQ(rig.session->ExitCode(), tessaw::kExitSuccess);

    std::set<std::vector<std::string>> documented;
    for (const auto& row : Table(Doc("packaging.md"), "tessaw-keys")) {
        std::string key = Code(Cell(row, 2)).value_or(Cell(row, 2));
        // A whole section has no default of its own.
        std::string def = key == "(every line)" ? "" : CodeOf(row, 3);
        documented.insert({CodeOf(row, 0), CodeOf(row, 1), key, def});
    }
    EXPECT_EQ(documented, profile.reads) << "file, section, key and default of every read";
}

// Puts a run of the rig into the state that ends with one exit code.
using Scenario = std::function<void(twfakes::Rig&)>;

void SonixCamera(twfakes::Rig& rig) {
    rig.usb.devices.clear();
    rig.usb.Add("USB\\VID_3A7C&PID_6300&REV_0100&MI_00");
    rig.files.Put(twfakes::kDir + "\\FW_6300.bin", std::string(tessaw::kSonixChunkSize, '\x11'));
}

// The rig's config.ini with a [Checks] section, and its firmware file carrying the identity block
// VID 3A7C, PID B5A4 and `rev` where a family 'i' camera (the rig's) keeps it.
void WithChecks(twfakes::Rig& rig, const std::string& checks, uint16_t rev = 0x0013) {
    const std::string config = rig.files.Get(twfakes::kDir + "\\config.ini");
    rig.files.Put(twfakes::kDir + "\\config.ini", config + "[Checks]\r\n" + checks);
    std::string image(tessaw::kQuelmarImageSize, '\x5A');
    const uint8_t block[] = {0x7C, 0x3A, 0xA4, 0xB5, static_cast<uint8_t>(rev), static_cast<uint8_t>(rev >> 8)};
    image.replace(0x678A, sizeof block, reinterpret_cast<const char*>(block), sizeof block);
    rig.files.Put(twfakes::kDir + "\\FW_B5A4_01.bin", image);
}

const std::map<int, Scenario>& Scenarios() {
    using twfakes::kDir;
    static const std::map<int, Scenario> scenarios = {
        {tessaw::kExitSuccess, [](twfakes::Rig&) {}},
        {tessaw::kExitUnsuccessful, [](twfakes::Rig& r) { r.quelmarFlow.succeeds = false; }},
        {tessaw::kExitNoRvcLib, [](twfakes::Rig& r) { r.libraries.unloadable.insert("c:\\kit\\rvclib.dll"); }},
        {tessaw::kExitNoQuelmarLib, [](twfakes::Rig& r) { r.libraries.unloadable.insert("quelmarcamera.dll"); }},
        {tessaw::kExitNoConfig, [](twfakes::Rig& r) { r.files.Remove(kDir + "\\config.ini"); }},
        {tessaw::kExitNoSubSystemId, [](twfakes::Rig& r) { r.files.Remove(kDir + "\\SubSystemID.exe"); }},
        {tessaw::kExitNoMatchedDevice, [](twfakes::Rig& r) { r.usb.devices.resize(1); }},
        {tessaw::kExitSonixInit,
         [](twfakes::Rig& r) {
             SonixCamera(r);
             r.sonix.initResult = -1;
         }},
        {tessaw::kExitQuelmarInit, [](twfakes::Rig&) { twfakes::QuelmarStub::initResult = 1; }},
        {tessaw::kExitDriverTooOld, [](twfakes::Rig& r) { r.registry.InstallDriver("3A7C", "B5A4", "6.1.7600.15"); }},
        {tessaw::kExitDriverCheck,
         [](twfakes::Rig& r) { r.registry.RemoveKey(twfakes::Registry::DeviceKey("3A7C", "B5A4")); }},
        {tessaw::kExitNoFwFile,
         [](twfakes::Rig& r) {
             r.files.Put(kDir + "\\config.ini", "[Config]\r\nSysID_XXXX_PID_B5A4_ModID_01=\r\n");
             r.files.Remove(kDir + "\\FW_B5A4_01.bin");
         }},
        {tessaw::kExitFwMissing, [](twfakes::Rig& r) { r.files.Remove(kDir + "\\FW_B5A4_01.bin"); }},
        {tessaw::kExitFwOpenFailed, [](twfakes::Rig& r) { r.files.unopenable.insert("c:\\kit\\fw_b5a4_01.bin"); }},
        {tessaw::kExitNoDevVrk, [](twfakes::Rig& r) { r.files.Remove(kDir + "\\dev.vrk"); }},
        {tessaw::kExitReadConfig, [](twfakes::Rig& r) { r.files.Put(kDir + "\\config.ini", "[FW_TOOL]\r\nLogSwitch=2\r\n"); }},
        {tessaw::kExitCombo,
         [](twfakes::Rig& r) {
             r.files.Put(kDir + "\\dev.vrk",
                         "[REALTEK]\r\nPID=5602,5603\r\n[SONIX]\r\nPID=6300\r\n[QUELMAR]\r\nPID=B5A4\r\n"
                         "[COMBO]\r\nPID=5602+5603\r\n");
             r.usb.devices.clear();
             r.usb.Add("USB\\VID_3A7C&PID_5602&REV_0021&MI_00");
         }},
        {tessaw::kExitNoSystemId, [](twfakes::Rig& r) { r.programs.onStart = nullptr; }},
        {tessaw::kExitUpToDate, [](twfakes::Rig& r) { WithChecks(r, "SkipCurrentVersion=1\r\n", 0x0012); }},
        {tessaw::kExitNoDowngrade, [](twfakes::Rig& r) { WithChecks(r, "RefuseDowngrade=1\r\n", 0x0011); }},
        {tessaw::kExitPower,
         [](twfakes::Rig& r) {
             WithChecks(r, "MinBatteryPercent=20\r\n");
             r.power.status = {kit::PowerSource::Battery, 4};
         }},
        {tessaw::kExitWrongImage,
         [](twfakes::Rig& r) {
             WithChecks(r, "ImageIdentity=1\r\n");
             r.files.Put(twfakes::kDir + "\\FW_B5A4_01.bin", std::string(tessaw::kQuelmarImageSize, '\x5A'));
         }},
        {tessaw::kExitNoBurnerApLib, [](twfakes::Rig& r) { r.sonix.missing = true; }},
        {tessaw::kExitRomNoFirmware,
         [](twfakes::Rig& r) {
             r.files.Put(kDir + "\\dev.vrk",
                         "[REALTEK]\r\nPID=5602\r\n[SONIX]\r\nPID=6300\r\n[QUELMAR]\r\nPID=B5A4\r\nROM=04FC:2080\r\n");
             r.files.Put(kDir + "\\config.ini", "[Config]\r\nSysID_0B0B_PID_B5A4_ModID_01=FW_B5A4_01.bin\r\n");
             r.usb.devices.clear();
             r.usb.Add("USB\\VID_04FC&PID_2080&REV_0100&MI_00");
         }},
        {tessaw::kExitNoBackup,
         [](twfakes::Rig& r) {
             std::string config = r.files.Get(twfakes::kDir + "\\config.ini");
             config.replace(config.find("LogSwitch=2\r\n"), 13, "LogSwitch=2\r\nBackup=1\r\n");
             r.files.Put(twfakes::kDir + "\\config.ini", config);
             r.quelmarFlow.body = [](tessaw::UpdateSession& s) { s.BackupReadFailed(4096, 65536); };
         }},
    };
    return scenarios;
}

TEST(PackagingGuide, EveryExitCodeComesWithTheMessageTheGuideGives) {
    const auto rows = Table(Doc("packaging.md"), "tessaw-exit-codes");
    std::set<int> documented;
    for (const auto& row : rows) {
        const int code = std::stoi(CodeOf(row, 0));
        documented.insert(code);
        const std::optional<std::string> message = Code(Cell(row, 1));
        SCOPED_TRACE("exit code " + std::to_string(code));
        // The two that end the process outside the session: the shell's and the still-capture graph's.
        if (code == tessaw::kExitNoDialog || code == stillcap::kExitNotConnected) {
            EXPECT_FALSE(message) << "no message goes with it";
            continue;
        }
        auto scenario = Scenarios().find(code);
        ASSERT_NE(scenario, Scenarios().end()) << "the guide names an exit code the updater does not have";
        ASSERT_TRUE(message) << "no message in the guide";
        twfakes::Rig rig;
        scenario->second(rig);
        EXPECT_EQ(rig.RunSilently(), code);
        const std::regex pattern = FormatPattern(*message);
        bool traced = false;
        for (const std::string& line : rig.trace.lines) traced |= std::regex_match(line, pattern);
        EXPECT_TRUE(traced) << "the run did not report \"" << *message << "\"";
    }
    std::set<int> all;
    for (const auto& [code, scenario] : Scenarios()) all.insert(code);
    all.insert({tessaw::kExitNoDialog, stillcap::kExitNotConnected});
    EXPECT_EQ(documented, all) << "the guide's exit codes";
}

TEST(PackagingGuide, DriverCheckCodesAreTheRegistryStepsThatFail) {
    using twfakes::Registry;
    const std::string device = Registry::DeviceKey("3A7C", "B5A4");
    const std::string instance = device + "\\6&2f1a3b&0&0000";
    // How to make each step fail, by its code.
    const std::map<int, std::function<void(Registry&)>> breaks = {
        {0, [&](Registry& r) { r.RemoveKey(device); }},
        {1, [&](Registry& r) { r = Registry(), r.AddKey(device); }},
        {2, [&](Registry& r) { r.RemoveKey(instance); }},
        {3, [&](Registry& r) { r.RemoveValue(instance, "Driver"); }},
        {4, [&](Registry& r) { r.RemoveKey("SYSTEM\\ControlSet001\\Control\\Class"); }},
        {5, [&](Registry& r) { r.RemoveKey(Registry::DriverKey()); }},
        {6, [&](Registry& r) { r.RemoveValue(Registry::DriverKey(), "DriverVersion"); }},
    };
    const auto rows = Table(Doc("packaging.md"), "driver-check");
    ASSERT_EQ(rows.size(), breaks.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        const auto& row = rows[i];
        const int code = std::stoi(CodeOf(row, 0));
        SCOPED_TRACE("driver check code " + std::to_string(code));
        // In the order of the walk, so that each step's row below says what that code means.
        ASSERT_EQ(code, static_cast<int>(i));
        Registry registry;
        registry.InstallDriver("3A7C", "B5A4", "6.1.7601.1");
        breaks.at(code)(registry);
        const tessaw::DriverCheck check =
            tessaw::CheckDriver(registry, "3A7C", "B5A4", "6.1.7600.16", tessaw::ChipFamily::Quelmar);
        EXPECT_EQ(check.result, tessaw::kDriverStepFailed);
        EXPECT_EQ(check.code, code);
    }
    EXPECT_EQ(CodeOf(rows[0], 2), "HKLM\\" + tessaw::Format(tessaw::kDeviceKey, "<vid>", "<pid>"));
    EXPECT_EQ(CodeOf(rows[3], 1), "Driver");
    EXPECT_EQ(CodeOf(rows[4], 2), std::string("HKLM\\") + tessaw::kClassKey);
    EXPECT_EQ(CodeOf(rows[6], 1), "DriverVersion");
}

// The texts the updater writes to its log file, besides the exit codes' messages.
const std::set<std::string>& TessawLogTexts() {
    using namespace tessaw;
    static const std::set<std::string> texts = {
        kVidPid, kCurrentRev, kUpdateStart, kEraseMemory, kEraseDone, kEraseFailed, kWriteFirmware,
        kWriteComplete, kWriteFailed, kVerifyCode, kVerifyComplete, kVerifyFailed, kResetCamera, kResetFailed,
        kUnknownFlashType, kProtectOffFailed, kProtectOnFailed, kSonixProtectOffFailed, kSonixProtectOnFailed,
        kSonixImageTooShort, kFindDevices, kComboMismatch, kDeviceHeading, kDownloadMode, kDownloadStage,
        kVerifyStage, kFwUpdateError, kRtkNoBinName, kFwMissing, kFwOpenFailed, kRtkFileEmpty, kRtkBadSize,
        kUpdateFinished, kUpdatedSuccessfully, kUpdateUnsuccessful};
    return texts;
}

TEST(PackagingGuide, ExplainsEveryLineOfTheUpdateLog) {
    std::set<std::string> documented;
    for (const auto& row : Table(Doc("packaging.md"), "tessaw-log")) {
        const std::string text = CodeOf(row, 0);
        EXPECT_TRUE(TessawLogTexts().count(text)) << "not a line the updater writes: \"" << text << "\"";
        documented.insert(text);
    }
    for (const std::string& text : TessawLogTexts())
        EXPECT_TRUE(documented.count(text)) << "the guide does not explain \"" << text << "\"";
}

// The four worked examples: their config.ini and dev.vrk, with their cameras attached, match the
// camera to the family, module and file the guide says, and FLASH starts the update.
TEST(PackagingGuide, WorkedExamplesChooseTheFileTheGuideSays) {
    const std::string doc = Doc("packaging.md");
    const std::string marker = "<!-- drift: example ";
    int examples = 0;
    for (size_t at = doc.find(marker); at != std::string::npos; at = doc.find(marker, at + 1)) {
        ++examples;
        const size_t end = doc.find(" -->", at);
        std::vector<std::string> fields;
        std::string field;
        std::istringstream in(doc.substr(at + marker.size(), end - at - marker.size()));
        while (std::getline(in, field, ';')) fields.push_back(Trim(field));
        SCOPED_TRACE("example " + fields[0]);
        std::multimap<std::string, std::string> want;
        for (size_t i = 1; i < fields.size(); ++i) {
            const size_t eq = fields[i].find('=');
            want.emplace(fields[i].substr(0, eq), fields[i].substr(eq + 1));
        }
        // The two ini blocks after the marker: config.ini, then dev.vrk.
        std::vector<std::string> blocks;
        for (size_t b = doc.find("```ini\n", end); b != std::string::npos && blocks.size() < 2;
             b = doc.find("```ini\n", b + 1)) {
            const size_t from = b + 7, to = doc.find("```", from);
            blocks.push_back(doc.substr(from, to - from));
        }
        ASSERT_EQ(blocks.size(), 2u);

        twfakes::Rig rig;
        rig.files.Put(twfakes::kDir + "\\config.ini", blocks[0]);
        rig.files.Put(twfakes::kDir + "\\dev.vrk", blocks[1]);
        rig.usb.devices.clear();
        for (auto [it, last] = want.equal_range("camera"); it != last; ++it) rig.usb.Add(it->second);
        rig.systemId = want.count("system") ? want.find("system")->second : "0000";
        ASSERT_TRUE(rig.Start("-s")) << "exit code " << rig.session->ExitCode();
        const tessaw::Identity& id = rig.session->Device();
        const std::map<std::string, tessaw::ChipFamily> families = {{"Quelmar", tessaw::ChipFamily::Quelmar},
                                                                    {"Sonix", tessaw::ChipFamily::Sonix},
                                                                    {"Realtek", tessaw::ChipFamily::Realtek}};
        EXPECT_EQ(id.family, families.at(want.find("family")->second));
        EXPECT_EQ(id.moduleText, want.find("module")->second);
        EXPECT_EQ(id.binName, want.find("file")->second);
        rig.session->OnFlash();
        EXPECT_EQ(rig.threads.started, 1) << "FLASH did not start the update";
    }
    EXPECT_EQ(examples, 4);
}

TEST(PackagingGuide, NamesTheVendorIdsAndFilesTheProgramsUse) {
    const std::string doc = Doc("packaging.md");
    for (const std::string& text :
         {std::string("Only cameras of the vendor ID `") + tessaw::kVendorId + "`",
          std::string("vendor ID `") + kestrim::kVendorId + "`", std::string("`") + kestrim::kListFile + "`",
          std::string("`") + tessaw::kSubSystemIdName + "`", std::string("`") + tessaw::kQuelmarLibName + "`",
          std::string("`") + tessaw::kRvcLibName + "`", std::string("`") + tessaw::kReadBackFile + "`",
          std::string("`") + tessaw::kAnySystem + "`"})
        EXPECT_NE(doc.find(text), std::string::npos) << text;
}

// Every refusal of the [Checks] keys, with the exit code the guide gives it.
TEST(PackagingGuide, EveryRefusalOfTheChecksWithItsCode) {
    const std::map<std::string, int> refusals = {
        {tessaw::kRefuseLowBattery, tessaw::kExitPower},       {tessaw::kRefuseOnBattery, tessaw::kExitPower},
        {tessaw::kRefuseImageOther, tessaw::kExitWrongImage},  {tessaw::kRefuseImageShort, tessaw::kExitWrongImage},
        {tessaw::kRefuseImageLarge, tessaw::kExitWrongImage},  {tessaw::kRefuseNoFamily, tessaw::kExitWrongImage},
        {tessaw::kRefuseUpToDate, tessaw::kExitUpToDate},      {tessaw::kRefuseDowngrade, tessaw::kExitNoDowngrade},
        {tessaw::kVersionNotChecked, tessaw::kExitSuccess}};
    std::map<std::string, int> documented;
    for (const auto& row : Table(Doc("packaging.md"), "tessaw-checks"))
        documented[CodeOf(row, 0)] = std::stoi(CodeOf(row, 1));
    EXPECT_EQ(documented, refusals);
}

// Every message of the backup, with the exit code the guide gives it.
TEST(PackagingGuide, EveryMessageOfTheBackupWithItsCode) {
    const std::map<std::string, int> messages = {{tessaw::kBackupReading, tessaw::kExitSuccess},
                                                 {tessaw::kBackupSaved, tessaw::kExitSuccess},
                                                 {tessaw::kBackupReadFailed, tessaw::kExitNoBackup},
                                                 {tessaw::kBackupNotSaved, tessaw::kExitNoBackup},
                                                 {tessaw::kBackupNotPossible, tessaw::kExitNoBackup}};
    std::map<std::string, int> documented;
    for (const auto& row : Table(Doc("packaging.md"), "tessaw-backup"))
        documented[CodeOf(row, 0)] = std::stoi(CodeOf(row, 1));
    EXPECT_EQ(documented, messages);
}

// Tessac's outcome lines and codes against Tessaw's, and the guide's table of every code by what a
// script does next.
TEST(PackagingGuide, EveryExitCodeTessacReturnsIsClassified) {
    EXPECT_EQ(tessac::kUpToDateCode, tessaw::kExitUpToDate);
    EXPECT_EQ(tessac::kNoDowngradeCode, tessaw::kExitNoDowngrade);
    EXPECT_EQ(tessac::kOnBatteryCode, tessaw::kExitPower);
    EXPECT_EQ(tessac::kWrongImageCode, tessaw::kExitWrongImage);
    EXPECT_EQ(tessac::kNoBackupCode, tessaw::kExitNoBackup);
    std::set<std::string> classified;
    const std::set<std::string> groups = {"success", "nothing to do", "try again later", "failed"};
    for (const auto& row : Table(Doc("packaging.md"), "exit-code-classes")) {
        EXPECT_TRUE(groups.count(Cell(row, 0))) << Cell(row, 0);
        classified.insert(Code(Cell(row, 1)).value_or(Cell(row, 1)));
    }
    std::set<std::string> codes;
    for (const auto& [code, scenario] : Scenarios()) codes.insert(std::to_string(code));
    for (int code : std::initializer_list<int>{tessaw::kExitNoDialog, static_cast<int>(stillcap::kExitNotConnected), 259,
                     tessac::kPathTooDeepCode})
        codes.insert(std::to_string(code));
    codes.insert("the Windows error");
    EXPECT_EQ(classified, codes);
}

TEST(PackagingGuide, TessacsExitCodesAndConsoleTexts) {
    std::set<std::string> texts;
    for (const auto& row : Table(Doc("packaging.md"), "tessac")) {
        const std::string text = CodeOf(row, 1);
        texts.insert(text);
        const std::string code = Cell(row, 0);
        // Rows whose code is a fixed number say which text goes with it.
        if (code == "`0`") {
            EXPECT_EQ(text, tessac::kSucceeded);
        }
        if (code == "`259`") {
            EXPECT_EQ(text, tessac::kFailed);
        }
        if (code == "`30840`") {
            EXPECT_EQ(tessac::kPathTooDeepCode, 30840);
            EXPECT_EQ(text, tessac::kPathTooDeep);
        }
    }
    EXPECT_EQ(texts, (std::set<std::string>{tessac::kSucceeded, tessac::kFailed, tessac::kPathTooDeep,
                                            tessac::kCreateFailed, tessac::kUpToDate, tessac::kNoDowngrade,
                                            tessac::kOnBattery, tessac::kWrongImage, tessac::kNoBackup}));
}

TEST(PackagingGuide, KestrimsConsoleTexts) {
    std::set<std::string> documented;
    for (const auto& row : Table(Doc("packaging.md"), "kestrim")) documented.insert(CodeOf(row, 0));
    // kErrorVidFormat cannot be seen: the vendor ID is built in and has its four characters.
    EXPECT_EQ(documented, (std::set<std::string>{kestrim::kBanner, kestrim::kErrorParameter, kestrim::kNullVid,
                                                 kestrim::kNullPid, kestrim::kFoundSource, kestrim::kCantLoadList,
                                                 kestrim::kCantOpen, kestrim::kLineTooLong, kestrim::kStarted,
                                                 kestrim::kUnableToStart}));
}

// ---------------------------------------------------------------------------------------------
// Orlinde (docs/bench.md)

TEST(BenchGuide, SettingIniKeysAndDefaults) {
    // The five flags as the tool reads them; the file name key and the library's key beside them.
    twfakes::Machine machine;
    twfakes::Files files{machine};
    twfakes::Profile real{files};
    RecordingProfile profile(real);
    orlinde::ReadSettings(profile, "C:\\Bench\\setting.ini");
    std::set<std::vector<std::string>> read;
    for (const auto& r : profile.reads) read.insert({r[2], r[3]});
    read.insert({orlinde::kKeyBin, orlinde::kDefaultBin});
    // Read by the camera-access library that Orlinde links, from the same file and section.
    read.insert({"GPIO", "0"});

    std::set<std::vector<std::string>> documented;
    for (const auto& row : Table(Doc("bench.md"), "orlinde-settings")) documented.insert({CodeOf(row, 0), CodeOf(row, 1)});
    EXPECT_EQ(documented, read);
    for (const auto& r : profile.reads) EXPECT_EQ(r[1], orlinde::kSettingSection);
}

TEST(BenchGuide, PidIniKeysAndDefaults) {
    std::set<std::vector<std::string>> documented;
    for (const auto& row : Table(Doc("bench.md"), "orlinde-pid")) documented.insert({CodeOf(row, 0), CodeOf(row, 1)});
    using namespace orlinde;
    EXPECT_EQ(documented, (std::set<std::vector<std::string>>{{kKeyBin, kDefaultBin},
                                                              {kKeyModuleId, kSonixModuleDefault},
                                                              {kKeyModuleId, kQuelmarModuleDefault},
                                                              {kKey041f, kDefaultBin},
                                                              {kKey0604, kDefaultBin},
                                                              {kKeyVer, kDefaultVer}}));
    EXPECT_NE(Doc("bench.md").find(std::string("`") + kModeSwitchModule + "`"), std::string::npos);
}

// Bitmap resource numbers and their files, from the tool's resource script.
std::map<int, std::string> BitmapFiles() {
    const std::string header = Slurp(std::string(KIT_SOURCE_DIR) + "/flashtool/res/resource.h");
    const std::string script = Slurp(std::string(KIT_SOURCE_DIR) + "/flashtool/res/Orlinde.rc");
    std::map<std::string, int> ids;
    const std::regex define("#define (IDB_[A-Z0-9_]+) ([0-9]+)");
    for (auto it = std::sregex_iterator(header.begin(), header.end(), define); it != std::sregex_iterator(); ++it)
        ids[(*it)[1]] = std::stoi((*it)[2]);
    std::map<int, std::string> files;
    const std::regex bitmap("(IDB_[A-Z0-9_]+) BITMAP \"([a-z0-9]+)\\.bmp\"");
    for (auto it = std::sregex_iterator(script.begin(), script.end(), bitmap); it != std::sregex_iterator(); ++it)
        files[ids.at((*it)[1])] = (*it)[2];
    return files;
}

// The picture a row shows must be the PNG made from that bitmap's file.
void ExpectPictureOf(const std::string& cell, int bitmap) {
    const std::string file = BitmapFiles()[bitmap];
    EXPECT_FALSE(file.empty()) << "no bitmap " << bitmap << " in Orlinde.rc";
    EXPECT_NE(cell.find("(images/orlinde-status-" + file + ".png)"), std::string::npos) << cell;
    std::ifstream png(std::string(KIT_SOURCE_DIR) + "/docs/images/orlinde-status-" + file + ".png");
    EXPECT_TRUE(png.good()) << "docs/images/orlinde-status-" << file << ".png is missing (scripts/screenshots.sh)";
}

TEST(BenchGuide, StatusPicturesAreTheOnesTheToolShows) {
    std::set<int> statuses;
    for (const auto& row : Table(Doc("bench.md"), "orlinde-pictures")) {
        const int status = std::stoi(CodeOf(row, 0)), bitmap = std::stoi(CodeOf(row, 1));
        SCOPED_TRACE("status " + std::to_string(status));
        statuses.insert(status);
        EXPECT_EQ(orlinde::StatusPicture(static_cast<uint8_t>(status)), bitmap);
        ExpectPictureOf(Cell(row, 2), bitmap);
    }
    EXPECT_EQ(statuses, (std::set<int>{orlinde::kStatusIdle, orlinde::kStatusSuccess, orlinde::kStatusFail,
                                       orlinde::kStatusRunning}));

    std::set<int> countdown;
    for (const auto& row : Table(Doc("bench.md"), "orlinde-countdown")) {
        const std::string range = Cell(row, 0);  // `71`-`79`
        const int low = std::stoi(Code(range).value()), high = std::stoi(Code(range.substr(range.find('-'))).value());
        const int bitmap = std::stoi(CodeOf(row, 1));
        SCOPED_TRACE(range);
        for (int p = low; p <= high; ++p) {
            EXPECT_EQ(orlinde::CountdownPicture(static_cast<uint8_t>(p)), bitmap) << p;
            countdown.insert(p);
        }
        ExpectPictureOf(Cell(row, 2), bitmap);
    }
    for (int p = 0; p <= 255; ++p)
        if (!countdown.count(p)) {
            EXPECT_EQ(orlinde::CountdownPicture(static_cast<uint8_t>(p)), 0) << p;
        }
}

TEST(BenchGuide, ExplainsEveryMessageOfTheLogView) {
    using namespace orlinde;
    const std::set<std::string> texts = {
        kDriverConnected, kInitialOk, kCameraRevision, kCameraVidNumber, kCameraPidNumber, kCameraVidText,
        kCameraPidText, kFileVersion, kSonixFileVersion, kOpenFile, kFileRead, kUnknownFlash, kGetInformationFail,
        kNoSettingIni, kNoDeviceList, kNoVidPid, kNoRealtekCamera, kChoiceFailed, kBadPidSection, kFileNotOpened,
        kFileEmpty, kFileTooShort, kFileTooLarge, kNoBurnerApLib, kBurnerApLibEntryMissing, kLoadFileFirst, kVersionAccuracy, kStartDownload, kDownloading,
        kRomVersionFailed, kProtectOffFailed, kEraseFailed, kWriteFailed, kProtectOnFailed, kPidDownloadComplete,
        kPidDownloadFail, kDownloadComplete, kDownloadFail, kPlugSeparator, kPlugIn, kPlugOut, kImageForOther,
        kImageTooShort, kImageForRom, kBackupSaved, kBackupReadFailed, kBackupNotSaved, kBackupNotPossible,
        kBackupInPackage};
    std::set<std::string> documented;
    for (const auto& row : Table(Doc("bench.md"), "orlinde-log")) {
        const std::string text = CodeOf(row, 0);
        EXPECT_TRUE(texts.count(text)) << "not a message of the tool: \"" << text << "\"";
        documented.insert(text);
    }
    for (const std::string& text : texts) EXPECT_TRUE(documented.count(text)) << "not explained: \"" << text << "\"";
}

TEST(BenchGuide, NamesTheToolsCaptionAndBoxes) {
    const std::string doc = Doc("bench.md");
    const std::string caption = std::string(orlinde::kCaptionName) + orlinde::kCaptionTool + orlinde::kCaptionVersion;
    EXPECT_NE(doc.find("\"" + caption + "\""), std::string::npos) << caption;
    for (const char* text : {orlinde::kBoxSuccessText, orlinde::kBoxFailText})
        EXPECT_NE(doc.find(std::string("\"") + text + "\""), std::string::npos) << text;
}

// ---------------------------------------------------------------------------------------------
// The bench reference (docs/emulated-bench.md)

TEST(BenchReference, ListsEveryTemplateOfBenchtool) {
    std::set<std::string> documented, built;
    for (const auto& row : Table(Doc("emulated-bench.md"), "bench-templates")) documented.insert(CodeOf(row, 0));
    for (const benchtool::Template& t : benchtool::Templates()) built.insert(t.name);
    EXPECT_EQ(documented, built);
}

// ---------------------------------------------------------------------------------------------
// Versions

// Each program's file version is the one its own texts show; the kit's version is what the
// package is named after.
TEST(Versions, FileVersionsAreTheProgramsOwn) {
    EXPECT_EQ(std::string(orlinde::kCaptionVersion), std::string("v") + ORLINDE_VERSION_TEXT + "_ZR");
    const std::string banner = kestrim::kBanner;
    EXPECT_EQ(banner.substr(banner.rfind(' ') + 1), KESTRIM_VERSION_TEXT);
    const std::string rc = Slurp(std::string(KIT_SOURCE_DIR) + "/updater/res/Tessaw.rc");
    EXPECT_NE(rc.find(std::string("\"Update Version ") + TESSAW_VERSION_TEXT + "\""), std::string::npos);
    EXPECT_TRUE(std::regex_match(KIT_VERSION_TEXT, std::regex("[0-9]+(\\.[0-9]+){1,3}"))) << KIT_VERSION_TEXT;
    const std::string doc = Doc("packaging.md");
    EXPECT_NE(doc.find(std::string("`Tessaw` ") + TESSAW_VERSION_TEXT), std::string::npos);
}

}  // namespace
