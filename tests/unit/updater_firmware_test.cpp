// Firmware file selection and loading.
#include <gtest/gtest.h>

#include "firmware_file.h"
#include "updater_fakes.h"

namespace {

using tessaw::ChipFamily;

struct FwRig {
    twfakes::Machine machine;
    twfakes::Files files{machine};
    kit::RecordingTrace trace;
    tessaw::FirmwareImage image;

    tessaw::FirmwareLoad Load(const std::string& binName, ChipFamily family) {
        return tessaw::SelectAndLoadFirmware(files, trace, twfakes::kDir, binName, family, image);
    }
};

struct SelectCase {
    const char* name;
    std::vector<std::string> folder;  // files in the program directory, in enumeration order
    const char* binName;
    ChipFamily family;
    int exitCode;      // 0: loads
    const char* path;  // chosen path ("" when none)
};

class Selection : public ::testing::TestWithParam<SelectCase> {};

TEST_P(Selection, ChoosesTheFileAndFailsWithItsCode) {
    const SelectCase& c = GetParam();
    FwRig rig;
    // As long as a Quelmar image must be at least.
    for (const std::string& name : c.folder) rig.files.Put(twfakes::kDir + "\\" + name, std::string(4096, 'f'));
    tessaw::FirmwareLoad load = rig.Load(c.binName, c.family);
    EXPECT_EQ(load.ok, c.exitCode == 0);
    EXPECT_EQ(load.exitCode, c.exitCode);
    EXPECT_EQ(rig.image.path, c.path);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Selection,
    ::testing::Values(
        SelectCase{"BinNameNamesAFile",
                   {"other.bin", "FW_01.bin"},
                   "FW_01.bin",
                   ChipFamily::Quelmar,
                   0,
                   "C:\\Kit\\FW_01.bin"},
        SelectCase{"BinNameMissingNoFallback",
                   {"other.bin", "x.rfw"},
                   "FW_01.bin",
                   ChipFamily::Quelmar,
                   32,
                   "C:\\Kit\\FW_01.bin"},
        SelectCase{
            "BinNameMissingRealtek", {"x.rfw"}, "FW_01.rfw", ChipFamily::Realtek, 32, "C:\\Kit\\FW_01.rfw"},
        SelectCase{
            "RealtekTakesRfw", {"a.bin", "b.rfw", "c.rfw"}, "", ChipFamily::Realtek, 0, "C:\\Kit\\b.rfw"},
        SelectCase{"RealtekWithOnlyBin", {"a.bin"}, "", ChipFamily::Realtek, 25, ""},
        SelectCase{"SonixWithOnlyRfw", {"a.rfw"}, "", ChipFamily::Sonix, 25, ""},
        SelectCase{
            "QuelmarTakesFirstEnumerated", {"z.bin", "a.bin"}, "", ChipFamily::Quelmar, 0, "C:\\Kit\\z.bin"},
        SelectCase{"NoneTakesBin", {"a.bin"}, "", ChipFamily::None, 0, "C:\\Kit\\a.bin"},
        SelectCase{"EmptyFolder", {}, "", ChipFamily::Sonix, 25, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Selection, DotEntriesAreSkippedButAMatchingDirectoryIsTaken) {
    FwRig rig;
    rig.files.PutDirectory(twfakes::kDir + "\\old.bin");
    rig.files.Put(twfakes::kDir + "\\new.bin", "fw");
    rig.files.listings[twfakes::kDir + "\\*.bin"] = {".", "..", "old.bin", "new.bin"};
    tessaw::FirmwareLoad load = rig.Load("", ChipFamily::Sonix);
    EXPECT_EQ(rig.image.path, "C:\\Kit\\old.bin");
    EXPECT_FALSE(load.ok) << "a directory cannot be opened as a file";
    EXPECT_EQ(load.exitCode, 33);
    EXPECT_EQ(load.message, "Fail to open file C:\\Kit\\old.bin.\r\n");
}

struct QuelmarCase {
    size_t fileSize;
    uint32_t bytesRead;
};

TEST(Loading, QuelmarImageIsAlways65536BytesFilledWithErasedFlash) {
    for (QuelmarCase c : {QuelmarCase{40000, 40000}, QuelmarCase{65536, 65536}, QuelmarCase{70000, 65536},
                          QuelmarCase{4096, 4096}}) {
        FwRig rig;
        std::string bytes(c.fileSize, '\0');
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + 1);
        rig.files.Put(twfakes::kDir + "\\q.bin", bytes);
        rig.image.quelmar.assign(tessaw::kQuelmarImageSize, 0x11);  // left over from an earlier run
        tessaw::FirmwareLoad load = rig.Load("q.bin", ChipFamily::Quelmar);
        ASSERT_TRUE(load.ok) << c.fileSize;
        EXPECT_EQ(rig.image.length, 65536u);
        EXPECT_EQ(rig.image.quelmarBytesRead, c.bytesRead);
        ASSERT_EQ(rig.image.quelmar.size(), 65536u);
        EXPECT_EQ(std::string(rig.image.quelmar.begin(), rig.image.quelmar.begin() + c.bytesRead),
                  bytes.substr(0, c.bytesRead));
        EXPECT_EQ(std::count(rig.image.quelmar.begin() + c.bytesRead, rig.image.quelmar.end(), 0xFF),
                  static_cast<long>(65536 - c.bytesRead));
        EXPECT_EQ(rig.trace.lines, std::vector<std::string>{"Success to open file C:\\Kit\\q.bin\r\n"});
    }
}

// Fewer bytes than one sector: nothing to write but fill, so the step fails before any flow runs.
TEST(Loading, QuelmarFileShorterThanOneSectorIsRefused) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{4095}}) {
        FwRig rig;
        rig.files.Put(twfakes::kDir + "\\q.bin", std::string(size, 'q'));
        tessaw::FirmwareLoad load = rig.Load("q.bin", ChipFamily::Quelmar);
        EXPECT_FALSE(load.ok) << size;
        EXPECT_EQ(load.exitCode, 33) << size;
        EXPECT_EQ(load.message, tessaw::Format("File C:\\Kit\\q.bin has %zu bytes, less than one 4096-byte "
                                               "sector: the camera was not touched; check the firmware file!\r\n",
                                               size));
    }
}

TEST(Loading, SonixImageIsTheWholeFileEvenWhenASecondRunBringsALongerOne) {
    FwRig rig;
    rig.files.Put(twfakes::kDir + "\\s.bin", "");
    ASSERT_TRUE(rig.Load("s.bin", ChipFamily::Sonix).ok);
    EXPECT_EQ(rig.image.length, 0u);

    rig.files.Put(twfakes::kDir + "\\s.bin", std::string(8192, 'a'));
    ASSERT_TRUE(rig.Load("s.bin", ChipFamily::Sonix).ok);
    rig.files.Put(twfakes::kDir + "\\s.bin", std::string(20000, 'b'));
    ASSERT_TRUE(rig.Load("s.bin", ChipFamily::Sonix).ok);
    EXPECT_EQ(rig.image.length, 20000u);
    EXPECT_EQ(rig.image.sonix, std::vector<uint8_t>(20000, 'b'));
}

TEST(Loading, RealtekAndNoneOnlyOpenTheFile) {
    for (ChipFamily family : {ChipFamily::Realtek, ChipFamily::None}) {
        FwRig rig;
        rig.files.Put(twfakes::kDir + "\\r.rfw", "fw");
        rig.image.length = 0;
        ASSERT_TRUE(rig.Load("r.rfw", family).ok);
        EXPECT_EQ(rig.image.length, 0u);
        EXPECT_TRUE(rig.image.sonix.empty());
        EXPECT_TRUE(rig.image.quelmar.empty());
        EXPECT_EQ(rig.trace.lines.size(), 1u);
    }
}

}  // namespace
