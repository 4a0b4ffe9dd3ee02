// The Sonix flashing flow, run by a real session over a scripted BurnerApLib.dll.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "session.h"
#include "sonix_flow.h"
#include "texts.h"
#include "update_log.h"
#include "updater_fakes.h"

namespace {

using tessaw::Format;

// The library over a NOR flash that refuses writes and erases while protected. Calls are recorded
// as made; a call named in `fails` answers false (or 0) and does nothing.
class Burner final : public tessaw::SonixLibraryPort {
public:
    std::vector<uint8_t> flash = std::vector<uint8_t>(65536, 0x00);
    bool protect = true;
    std::string rom = std::string("232RO\x01", 6);
    std::vector<std::string> calls;
    std::set<std::string> fails;
    bool Bind(std::string&) override { return true; }
    std::vector<uint32_t> corrupt;  // flash offsets that come back altered when read
    std::vector<std::pair<uint16_t, uint8_t>> protectArgs;
    std::function<void()> onReset;

    int InitializeDriverInterface() override { return 1; }
    bool GetRomVersion(char* version16) override {
        rom.copy(version16, std::min<size_t>(rom.size(), 16));
        return true;
    }
    bool ReqToDriver(uint8_t request, uint32_t address, uint8_t* buffer, uint32_t length) override {
        if (!Call(Format("%s 0x%04X %u", request == 7 ? "read" : "write", address, length))) return false;
        if (address + uint64_t{length} > flash.size()) return false;
        if (request == 7) {
            std::copy_n(flash.begin() + address, length, buffer);
            for (uint32_t at : corrupt)
                if (at >= address && at < address + length) buffer[at - address] ^= 0x01;
            return true;
        }
        if (protect) return false;
        for (uint32_t i = 0; i < length; ++i) flash[address + i] &= buffer[i];
        return true;
    }
    bool SetWriteProtect(bool enable, uint16_t& word, uint8_t& byte) override {
        protectArgs.emplace_back(word, byte);
        if (!Call(enable ? "protect on" : "protect off")) return false;
        if (!enable) word = 0x1C;
        protect = enable;
        return true;
    }
    bool EraseSF() override {
        if (!Call("erase") || protect) return false;
        std::fill(flash.begin(), flash.end(), 0xFF);
        return true;
    }
    int ResetDevice() override {
        if (onReset) onReset();
        return Call("reset") ? 1 : 0;
    }

private:
    bool Call(const std::string& call) {
        calls.push_back(call);
        return !fails.count(call);
    }
};

const std::string kFirmware = twfakes::kDir + "\\FW_6300.bin";

std::string Image(size_t length) {
    std::string file(length, '\0');
    for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<char>(i * 7 + i / 8192 + 1);
    return file;
}

// The rig's machine with a Sonix camera 6300, the scripted library and the real flow.
struct Bench : twfakes::Rig {
    Burner burner;
    tessaw::SonixFlow flow;

    explicit Bench(size_t imageLength = 65536) {
        usb.devices = {{"USB\\VID_3A7C&PID_6300&REV_0101&MI_00"}};
        files.Put(kFirmware, Image(imageLength));
        burner.flash[0xC034] = 0x5A;
    }
    int Run() {
        tessaw::SessionPorts ports{dialog, trace, profile,  machine,   files,   machine, programs,
                                   usb,    still, registry, libraries, threads, burner};
        session =
            std::make_unique<tessaw::UpdateSession>("-s", ports, tessaw::FlashFlows{nullptr, &flow, nullptr});
        dialog.session = session.get();
        if (session->OnInitDialog()) Flash();
        dialog.Pump();
        return session->ExitCode();
    }
    std::vector<std::string> FlowTrace() const {
        auto from = std::find(trace.lines.begin(), trace.lines.end(), tessaw::kSonixUpdate);
        auto to = std::find(from, trace.lines.end(), tessaw::kUpdateUnsuccessful);
        to = std::min(to, std::find(from, trace.lines.end(), tessaw::kBeforeCheckDevice));
        return from == trace.lines.end() ? std::vector<std::string>{}
                                         : std::vector<std::string>(from + 1, to);
    }
    std::string Memory() const { return std::string(burner.flash.begin(), burner.flash.end()); }
};

std::string LogLines(std::initializer_list<std::string> lines) {
    std::string out;
    for (const std::string& l : lines) out += tessaw::TextModeBytes(tessaw::PlainLine(l));
    return out;
}

// Every call of a full run over an image of `length` bytes, protection byte at `address`.
std::vector<std::string> FullRun(uint32_t length, uint16_t address = 0xC034) {
    std::vector<std::string> calls{Format("read 0x%04X 1", address), "protect off", "erase"};
    for (uint32_t i = 0; i < tessaw::SonixRequestCount(length); ++i)
        calls.push_back(Format("write 0x%04X %u", i * 8192, tessaw::SonixRequestLength(length, i)));
    calls.push_back("protect on");
    for (uint32_t i = 0; i < tessaw::SonixRequestCount(length); ++i)
        calls.push_back(Format("read 0x%04X %u", i * 8192, tessaw::SonixRequestLength(length, i)));
    calls.push_back("reset");
    return calls;
}

// The view's lines of both stages, with these percentages.
std::string StageView(const std::vector<int>& percents) {
    std::string view = "----------------: Write firmware ...\r\n";
    for (int p : percents) view += "----------------: " + Format("Write firmware ...%02d%%\r\n", p);
    view += "----------------: Verify code ...\r\n";
    for (int p : percents) view += "----------------: " + Format("Verify code ...%02d%%\r\n", p);
    return view + "----------------: Reset camera device ...\r\n";
}

TEST(SonixFlow, SuccessfulRunReportsEveryStepAndWritesTheWholeImage) {
    Bench b;
    b.burner.onReset = [&b] { b.usb.devices.back().hardwareId = "USB\\VID_3A7C&PID_6300&REV_0102&MI_00"; };
    EXPECT_EQ(b.Run(), tessaw::kExitSuccess);
    EXPECT_EQ(b.burner.calls, FullRun(65536));
    EXPECT_EQ(b.Memory(), b.files.Get(kFirmware));
    EXPECT_TRUE(b.burner.protect);
    // The byte read before lifting protection, and the word the library filled then, go to both calls.
    EXPECT_EQ(b.burner.protectArgs,
              (std::vector<std::pair<uint16_t, uint8_t>>{{0x0000, 0x5A}, {0x001C, 0x5A}}));

    EXPECT_NE(
        b.Log().find("REV_0101\r\r\n" +
                     LogLines({"Update start\r\n", "Erase memory ...\r\n", "Write firmware ...\r\n",
                               "Write firmware ...100%\r\n", "Verify code ...\r\n", "Verify code ...100%\r\n",
                               "Reset camera device ...\r\n", "Current FW version = REV_0102\r\n"})),
        std::string::npos)
        << b.Log();
    EXPECT_NE(
        b.dialog.logView.find("----------------: Update start\r\n----------------: Erase memory ...\r\n" +
                              StageView({12, 25, 37, 50, 62, 75, 87, 100})),
        std::string::npos)
        << b.dialog.logView;

    EXPECT_EQ(b.dialog.range, 131072u);
    std::vector<uint32_t> positions;
    for (uint32_t p = 8192; p <= 65536; p += 8192) positions.push_back(p);
    positions.push_back(65536);
    for (uint32_t p = 73728; p <= 131072; p += 8192) positions.push_back(p);
    positions.push_back(131072);
    ASSERT_GE(b.dialog.positions.size(), positions.size());
    EXPECT_EQ(
        std::vector<uint32_t>(b.dialog.positions.begin(), b.dialog.positions.begin() + positions.size()),
        positions);

    EXPECT_EQ(b.FlowTrace(),
              (std::vector<std::string>{"SetWriteProtect disable successful\r\n", "Update start\r\n",
                                        "Erase memory ...\r\n", "Write firmware ...\r\n",
                                        "SetWriteProtect enable successful\r\n", "Verify code ...\r\n",
                                        "Reset camera device ...\r\n"}));
}

TEST(SonixFlow, ProtectionAddressFollowsTheRomVersion) {
    struct Case {
        std::string rom;  // bytes 0..5 and on
        uint16_t address;
    } cases[] = {
        {std::string("231RO\x02", 6), 0x000F},
        {std::string("231r\0\x02", 6), 0x000F},  // case is ignored
        {std::string("231RX\x02", 6), 0x000F},   // only four characters count
        {std::string("231RO\x01", 6), 0x8034},
        {std::string("232RO\x01", 6), 0xC034},
        {std::string("275ro\x01", 6), 0xC034},
        {std::string("276R\0\x01", 6), 0xC034},
        {std::string("276RO\x02", 6), 0x8034},
        {std::string("232RO\x00", 6), 0x8034},
        {std::string("232RO1", 6), 0x8034},  // the character '1' is not the number 1
        {std::string("233RO\x01", 6), 0x8034},
        {std::string("231", 3), 0x8034},
        {std::string(), 0x8034},
    };
    for (const Case& c : cases) {
        char rom[16] = {};
        c.rom.copy(rom, c.rom.size());
        EXPECT_EQ(tessaw::SonixProtectAddress(rom), c.address) << "ROM \"" << c.rom.c_str() << "\"";
    }
    // The flow reads the byte where the camera's ROM keeps it.
    Bench b;
    b.burner.rom = std::string("231r\0\x02", 6);
    EXPECT_EQ(b.Run(), tessaw::kExitSuccess);
    EXPECT_EQ(b.burner.calls.front(), "read 0x000F 1");
}

// A tail shorter than a chunk is written and verified like the rest; an image shorter than one
// chunk never reaches the camera.
TEST(SonixFlow, TailIsWrittenAndVerifiedAndAShortImageIsRefused) {
    struct Case {
        uint32_t length;
        std::vector<int> percents;  // empty: refused
    } cases[] = {
        {40000, {20, 40, 61, 81, 100}}, {8193, {99, 100}}, {8192, {100}},
        {24576, {33, 66, 100}},         {8191, {}},        {0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        Bench b(c.length);
        const std::string before = b.Memory();
        int exit = b.Run();
        if (c.percents.empty()) {
            EXPECT_EQ(exit, tessaw::kExitUnsuccessful);
            EXPECT_TRUE(b.burner.calls.empty()) << "nothing may reach the camera";
            EXPECT_EQ(b.Memory(), before);
            const std::string message = Format(
                "Firmware file has %u bytes, less than one 8192-byte chunk: the camera was not touched; "
                "check the firmware file!\r\n",
                c.length);
            EXPECT_EQ(b.FlowTrace(), std::vector<std::string>{message});
            EXPECT_NE(b.Log().find(LogLines({message, tessaw::kUpdateUnsuccessful})), std::string::npos);
            EXPECT_NE(b.dialog.logView.find("----------------: " + message), std::string::npos);
            continue;
        }
        EXPECT_EQ(exit, tessaw::kExitSuccess);
        EXPECT_EQ(b.burner.calls, FullRun(c.length));
        EXPECT_EQ(b.Memory().substr(0, c.length), b.files.Get(kFirmware));
        EXPECT_TRUE(std::all_of(b.burner.flash.begin() + c.length, b.burner.flash.end(),
                                [](uint8_t v) { return v == 0xFF; }));
        EXPECT_NE(b.dialog.logView.find(StageView(c.percents)), std::string::npos) << b.dialog.logView;
        EXPECT_EQ(b.dialog.range, 2 * c.length);
        EXPECT_EQ(*std::max_element(b.dialog.positions.begin(), b.dialog.positions.end()), 2 * c.length);
    }
}

struct FailureCase {
    const char* name;
    std::function<void(Burner&)> arrange;
    const char* lastCall;  // the run must stop right after it
    const char* message;
    bool protectLifted;  // what the failure leaves behind
};

TEST(SonixFlow, EachFailingStepStopsTheRunWithItsMessage) {
    const FailureCase cases[] = {
        {"protection off", [](Burner& l) { l.fails = {"protect off"}; }, "protect off",
         "SetWriteProtect to disable failed!\r\n", false},
        {"erase", [](Burner& l) { l.fails = {"erase"}; }, "erase", "Erase memory failed!\r\n", true},
        {"first chunk write", [](Burner& l) { l.fails = {"write 0x0000 8192"}; }, "write 0x0000 8192",
         "Write firmware failed!\r\n", true},
        {"last chunk write", [](Burner& l) { l.fails = {"write 0xE000 8192"}; }, "write 0xE000 8192",
         "Write firmware failed!\r\n", true},
        {"protection on", [](Burner& l) { l.fails = {"protect on"}; }, "protect on",
         "SetWriteProtect to enable failed!\r\n", true},
        {"first chunk read", [](Burner& l) { l.fails = {"read 0x0000 8192"}; }, "read 0x0000 8192",
         "Verify code failed!\r\n", false},
        {"last chunk read", [](Burner& l) { l.fails = {"read 0xE000 8192"}; }, "read 0xE000 8192",
         "Verify code failed!\r\n", false},
        {"comparison", [](Burner& l) { l.corrupt = {65535}; }, "read 0xE000 8192", "Verify code failed!\r\n",
         false},
        {"reset", [](Burner& l) { l.fails = {"reset"}; }, "reset", "Reset camera device failed!\r\n", false},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b;
        c.arrange(b.burner);
        EXPECT_EQ(b.Run(), tessaw::kExitUnsuccessful);
        EXPECT_FALSE(b.session->Success());
        std::vector<std::string> expected = FullRun(65536);
        expected.erase(std::find(expected.begin(), expected.end(), c.lastCall) + 1, expected.end());
        EXPECT_EQ(b.burner.calls, expected);
        EXPECT_EQ(b.burner.protect, !c.protectLifted);

        std::vector<std::string> trace = b.FlowTrace();
        ASSERT_FALSE(trace.empty());
        EXPECT_EQ(trace.back(), c.message);
        EXPECT_NE(b.Log().find(LogLines({c.message, tessaw::kUpdateUnsuccessful})), std::string::npos)
            << b.Log();
        EXPECT_NE(b.dialog.logView.find("----------------: " + std::string(c.message) +
                                        "----------------: Update unsuccessful\r\n"),
                  std::string::npos);
        EXPECT_FALSE(b.Traced(tessaw::kUpdatedSuccessfully));
    }
}

TEST(SonixFlow, UnreadableProtectionByteIsTracedAndTheRunGoesOn) {
    Bench b;
    b.burner.fails = {"read 0xC034 1"};
    EXPECT_EQ(b.Run(), tessaw::kExitSuccess);
    EXPECT_TRUE(b.Traced("Protection byte at 0xC034 cannot be read\r\n"));
    EXPECT_EQ(b.burner.protectArgs.front(), (std::pair<uint16_t, uint8_t>{0x0000, 0x00}));
    EXPECT_EQ(b.Memory(), b.files.Get(kFirmware));
}

// config.ini's [FW_TOOL] Backup=1 on a Sonix camera: 64 KiB (or the longer image) read in 8 KiB
// requests before the protection byte, kept beside the log; any failure writes nothing.
TEST(SonixFlow, BackupKeepsTheFlashOrStopsBeforeAnythingIsWritten) {
    struct Case {
        const char* name;
        size_t imageLength;
        const char* failingCall;
        bool diskFull;
        int exitCode;
        uint32_t backupBytes;
    };
    for (const Case& c : {Case{"whole_flash", 65536, "", false, tessaw::kExitSuccess, 65536},
                          Case{"short_image", 16384, "", false, tessaw::kExitSuccess, 65536},
                          Case{"read_fails", 65536, "read 0x0000 8192", false, tessaw::kExitNoBackup, 0},
                          Case{"short_read", 65536, "read 0xE000 8192", false, tessaw::kExitNoBackup, 0},
                          // A flash smaller than the image cannot be read to the image's end.
                          Case{"image_beyond_flash", 73728, "", false, tessaw::kExitNoBackup, 0},
                          Case{"disk_full", 65536, "", true, tessaw::kExitNoBackup, 0}}) {
        SCOPED_TRACE(c.name);
        Bench b(c.imageLength);
        std::string config = b.files.Get(twfakes::kDir + "\\config.ini");
        config.replace(config.find("LogSwitch=2\r\n"), 13, "LogSwitch=2\r\nBackup=1\r\n");
        b.files.Put(twfakes::kDir + "\\config.ini", config);
        for (size_t i = 0; i < b.burner.flash.size(); ++i) b.burner.flash[i] = static_cast<uint8_t>(i * 5 + i / 8192);
        const std::vector<uint8_t> held = b.burner.flash;
        if (*c.failingCall) b.burner.fails.insert(c.failingCall);
        if (c.diskFull) b.files.writeFails = [](const std::string& key) { return key.find("backup_") != std::string::npos; };

        EXPECT_EQ(b.Run(), c.exitCode);
        std::vector<std::string> reads;
        for (uint32_t at = 0; at < std::max<size_t>(65536, c.imageLength); at += 8192)
            reads.push_back(Format("read 0x%04X 8192", at));
        const auto firstOther = std::find_if(b.burner.calls.begin(), b.burner.calls.end(),
                                             [](const std::string& call) { return call.find(" 8192") == std::string::npos; });
        if (c.exitCode == tessaw::kExitSuccess) {
            EXPECT_EQ(std::vector<std::string>(b.burner.calls.begin(), firstOther), reads);
        } else {
            EXPECT_EQ(std::count(b.burner.calls.begin(), b.burner.calls.end(), "erase"), 0);
            EXPECT_EQ(std::count(b.burner.calls.begin(), b.burner.calls.end(), "protect off"), 0);
            EXPECT_EQ(b.burner.flash, held);
            EXPECT_NE(b.Log().find("----------------: Error: Backup failed"), std::string::npos) << b.Log();
        }
        const std::string name = twfakes::kDir + "\\Backup_VID_3A7C_PID_6300_REV_0101_20240506_140300.bin";
        const std::string kept = b.files.Get(name);
        EXPECT_EQ(b.files.Has(name), c.backupBytes != 0);
        if (c.backupBytes) {
            EXPECT_EQ(std::vector<uint8_t>(kept.begin(), kept.end()), held);
        }
    }
}

}  // namespace
