// Firmware download in every variant against emulated chips: what lands in the flash, the status and
// progress a caller sees, the checksums, and how failures and waits end.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "camlib/internals.h"
#include "camlib/testing/bench_rig.h"
#include "emu/bench_devices.h"
#include "kit/text.h"

namespace {

using namespace camlib;
using camlib::testing::BenchRig;
using camlib::testing::Keys;
using camlib::testing::QuelmarBench;
using Bytes = std::vector<uint8_t>;
using Steps = std::vector<std::pair<int, int>>;  // (status, progress) as a poller would see them

Bytes Pattern(size_t n, uint32_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>((i * 193 + seed * 11 + (i >> 7)) ^ seed);
    if (n > 1) b[0] = b[1] = 0xFF;  // header bytes as an unwritten image has them
    return b;
}

uint8_t Xor(const Bytes& b) {
    uint8_t x = 0;
    for (uint8_t v : b) x ^= v;
    return x;
}

struct Flashing {
    BenchRig rig;
    CamHolder h = nullptr;
    Bytes image;
    uint8_t checksum = 0xEE, device = 0xEE, status = 0, progress = 0;
    Steps steps;
    int result = -1;
    size_t traceBefore = 0;

    Flashing(const Keys& keys, size_t length, bool switchMode = false)
        : rig(QuelmarBench(keys)), image(Pattern(length, 5)) {
        EXPECT_TRUE(rig.Ok()) << rig.Error();
        EXPECT_EQ(CamInit(&h, 'e', 0), 0);
        if (switchMode) {
            EXPECT_EQ(CamSwitchMode(&h, 0), 0);
        }
        // Every request and every pause moves the clock: sample what a poller could see then.
        rig.Clock().onAdvance = [this](uint64_t) { Sample(); };
    }
    ~Flashing() {
        rig.Clock().onAdvance = nullptr;
        CamDestroy(&h);
    }
    void Sample() {
        std::pair<int, int> now{status, progress};
        if (status && (steps.empty() || steps.back() != now)) steps.push_back(now);
    }
    int Download() { return DownloadRaw(image.data(), static_cast<uint32_t>(image.size())); }
    int DownloadRaw(uint8_t* data, uint32_t length) {
        traceBefore = rig.trace.lines.size();
        DownloadJob job{data, length, 0, &checksum, &device, &status, &progress};
        result = CamDownload(h, job);
        Sample();
        return result;
    }
    const std::vector<uint8_t>& Flash() { return rig.Chip().Flash().Image(); }
    std::vector<std::string> NewTrace() const {
        return {rig.trace.lines.begin() + static_cast<std::ptrdiff_t>(traceBefore), rig.trace.lines.end()};
    }
    uint64_t Count(const char* kind) { return rig.Clock().Stat(kind).count; }
};

// 16 chunks of 4 KiB: progress before each chunk is sent.
Steps TransferSteps(int scale = 90) {
    Steps s;
    for (int k = 0; k < 16; ++k) s.push_back({21, k * 4096 * scale / 65536 + 5});
    return s;
}

TEST(Download, GenericVariantPerFamily) {
    // The image as patched, with the family's valid mark over its first bytes.
    struct Case {
        Keys keys;
        uint32_t patchAt;
        uint8_t patch;
        Bytes mark;
    } cases[] = {
        {{{"family", "f"}, {"flash", "121"}}, 0xC006, 0, {0x55}},
        {{{"family", "g"}, {"flash", "128"}}, 0xC006, 6, {0x55}},
        {{{"family", "h"}, {"flash", "122"}}, 0x501F, 1, {0x55}},
        {{{"family", "i"}, {"flash", "123"}}, 0x6010, 5, {0x89, 0x16}},
        {{{"family", "d"}, {"flash", "127"}}, 0, 0, {0x55}},
        {{{"family", "k"}, {"flash", "126"}}, 0x0002, 8, {0x89, 0x17}},
        {{{"family", "l"}, {"flash", "121"}}, 0x0002, 4, {0x89, 0x17}},
    };
    for (const Case& c : cases) {
        Flashing run(c.keys, 65536);
        const std::string family = c.keys[0].second;
        ASSERT_EQ(run.Download(), 0) << family;
        if (family != "d") {
            EXPECT_EQ(run.image[c.patchAt], c.patch) << family;
        }
        Bytes expected = run.image;
        for (size_t i = 0; i < c.mark.size(); ++i) expected[i] = c.mark[i];
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), run.Flash().begin())) << family;
        EXPECT_EQ(run.checksum, Xor(run.image)) << family;
        EXPECT_EQ(run.device, run.checksum) << family;
        Steps want = {{20, 5}};
        for (auto s : TransferSteps()) want.push_back(s);
        want.push_back({22, 95});
        want.push_back({23, 100});
        EXPECT_EQ(run.steps, want) << family;
        EXPECT_FALSE(run.rig.Chip().InDownloadMode()) << family;
        const bool registerLevel = family != "k" && family != "l";
        EXPECT_EQ(run.rig.Chip().Flash().NonVolatileStatus(), registerLevel ? 0x0C : 0x00) << family;
        EXPECT_EQ(run.rig.Chip().RestartCount(), registerLevel ? 0u : 1u) << family;
    }
}

TEST(Download, PaddingJoinsTheChecksum) {
    // Chunks of 64: 10 image bytes and 54 pad bytes cancel out; 11 and 53 do not.
    struct Case {
        uint32_t length;
        bool inverted;
        uint32_t received;
    } cases[] = {{10, false, 64}, {11, true, 64}, {128, false, 128}, {64, false, 64}};
    for (const Case& c : cases) {
        Flashing run({{"family", "d"}, {"chunk", "64"}}, c.length);
        ASSERT_EQ(run.Download(), 0) << c.length;
        const uint8_t x = Xor(run.image);
        EXPECT_EQ(run.checksum, x) << c.length;
        EXPECT_EQ(run.device, c.inverted ? static_cast<uint8_t>(~x) : x) << c.length;
        EXPECT_EQ(run.rig.Chip().BytesReceived(), c.received) << c.length;
        EXPECT_TRUE(std::equal(run.image.begin() + 1, run.image.end(), run.Flash().begin() + 1)) << c.length;
    }
}

TEST(Download, AChunkThatFailsOnceStillFails) {
    Flashing run({{"family", "f"}, {"fault1", "fail=xu_write:10@2"}}, 65536);
    EXPECT_EQ(run.Download(), 1);
    const auto lines = run.NewTrace();
    EXPECT_NE(std::find(lines.begin(), lines.end(), text::kChunkRecovered), lines.end());
    bool equalValues = false;
    for (const std::string& line : lines) {
        unsigned device = 0, image = 0;
        if (std::sscanf(line.c_str(), "FW get checksum (%x) != Code checksum(%x) ", &device, &image) == 2)
            equalValues = device == image && line.size() > 4 && line.substr(line.size() - 3) == " \r\n";
    }
    EXPECT_TRUE(equalValues) << "the checksums agree, the counted retry fails the download";
    EXPECT_EQ(run.status, 23);
    EXPECT_EQ(run.progress, 100);
    EXPECT_FALSE(run.rig.Chip().Committed());
    EXPECT_FALSE(run.rig.Chip().InDownloadMode()) << "download mode is left on every path";
}

TEST(Download, AChunkThatFailsTwiceEndsTheTransfer) {
    Flashing run({{"family", "f"}, {"fault1", "fail=xu_write:10@3-4"}}, 65536);
    EXPECT_EQ(run.Download(), 1);
    EXPECT_EQ(run.Count("xu.write.s10"), 4u) << "two chunks, then the failing one twice";
    EXPECT_EQ(run.Count("xu.read.s11"), 1u) << "only discovery's probe: no verdict without the image";
    EXPECT_EQ(run.status, 23);
    EXPECT_FALSE(run.rig.Chip().InDownloadMode());
}

TEST(Download, DirectSerialFlashPathForFamilyHWithType129) {
    Flashing run({{"family", "h"}, {"flash", "129"}}, 65536);
    Bytes original = run.image;
    ASSERT_EQ(run.Download(), 0);
    EXPECT_EQ(run.Count("xu.write.s10") + run.Count("xu.length.s10") + run.Count("xu.write.s9"), 0u)
        << "the download engine is never used";
    EXPECT_EQ(run.image[0], 0x55);
    EXPECT_EQ(run.image[0x501F], 7);
    Bytes expected = run.image;
    EXPECT_EQ(Bytes(run.Flash().begin(), run.Flash().begin() + 65536), expected);
    EXPECT_EQ(run.rig.Chip().Flash().NonVolatileStatus(), 0x0C);
    EXPECT_EQ(run.device, run.checksum);
    EXPECT_EQ(run.steps.front(), (std::pair<int, int>{20, 5}));
    EXPECT_EQ(run.steps.back(), (std::pair<int, int>{23, 100}));
    EXPECT_EQ(run.rig.Chip().RestartCount(), 1u);
}

TEST(Download, DirectPathSendsTwoWholeSectorPassesPerSector) {
    Flashing run({{"family", "h"}, {"flash", "129"}}, 65536);
    std::vector<emu::quelmar::WireRequest> wire;
    run.rig.Chip().RecordWire(&wire);
    ASSERT_EQ(run.Download(), 0);
    const std::string traffic = camlib::testing::Traffic(wire);
    for (const char* sector : {"W13=00000000 L15 W14=00000000 W15/4096 W14=20000000 W15/4096",
                               "W13=00100000 L15 W14=00100000 W15/4096 W14=20100000 W15/4096"})
        EXPECT_NE(traffic.find(sector), std::string::npos) << sector;

    // A camera that reports 64-byte blocks refuses those writes: the download fails and says so.
    Flashing small({{"family", "h"}, {"flash", "129"}, {"data_block", "64"}}, 65536);
    EXPECT_EQ(small.Download(), 1);
    EXPECT_EQ(small.status, 25);
    EXPECT_EQ(small.device, static_cast<uint8_t>(~small.checksum));
}

TEST(Download, ALengthQueryTheCameraDoesNotAnswerDoesNotStopTheDownload) {
    // The query that follows the command table is not answered; every variant goes on, and the
    // camera holds the image afterwards.
    struct Case {
        const char* name;
        Keys keys;
        bool switchMode;
    } cases[] = {
        {"generic f", {{"family", "f"}, {"flash", "121"}}, false},
        {"generic k", {{"family", "k"}, {"flash", "121"}}, false},
        {"j", {{"family", "j"}, {"flash", "123"}}, false},
        {"direct h", {{"family", "h"}, {"flash", "129"}}, false},
    };
    for (const Case& c : cases) {
        Keys keys = c.keys;
        keys.push_back({"fault1", "fail=xu_length:15"});
        Flashing run(keys, 65536, c.switchMode);
        EXPECT_EQ(run.Download(), 0) << c.name;
        EXPECT_EQ(run.status, 23) << c.name;
        EXPECT_GT(run.Count("xu.length.s15"), 0u) << c.name << ": the query was asked";
        const auto lines = run.NewTrace();
        EXPECT_EQ(std::count(lines.begin(), lines.end(), text::kSetFlashTypeFail), 0) << c.name;
    }
}

TEST(Download, ACommandTableThatDidNotLoadFailsTheDownload) {
    for (const char* family : {"f", "k", "j"}) {
        // The probe writes selector 8 once (0x90); the table's entries follow.
        Flashing run({{"family", family}, {"flash", "121"}, {"fault1", "fail=xu_write:8@5"}}, 65536);
        EXPECT_EQ(run.Download(), 1) << family;
        const auto lines = run.NewTrace();
        EXPECT_EQ(std::count(lines.begin(), lines.end(), text::kSetFlashTypeFail), 1) << family;
        EXPECT_EQ(run.Count("xu.write.s10"), 0u) << family << ": no chunk was sent";
        EXPECT_FALSE(run.rig.Chip().InDownloadMode()) << family;
    }
}

TEST(Download, LeavingDownloadModeIsRetriedOnlyAfterTheReset) {
    // The write that leaves download mode fails once: families j, k and l reset the chip first and
    // only then write it again (the chip, restarted, is no longer there to take it); no 500 ms pause
    // follows a failed write. Family f has no reset: the second write leaves download mode.
    struct Case {
        const char* family;
        int result;
    } cases[] = {{"k", 1}, {"f", 0}};
    for (const Case& c : cases) {
        Flashing run({{"family", c.family}, {"flash", "121"}, {"fault1", "fail=xu_write:9@2"}}, 65536);
        std::vector<emu::quelmar::WireRequest> wire;
        run.rig.Chip().RecordWire(&wire);
        EXPECT_EQ(run.Download(), c.result) << c.family;
        EXPECT_EQ(run.status, 23) << c.family;
        const std::string traffic = camlib::testing::Traffic(wire);
        const std::string reset = "w2034=00 w2030=FF w2031=00 w2032=00 w2033=02 w2034=01";
        const size_t failed = traffic.find("W9=00!");
        ASSERT_NE(failed, std::string::npos) << c.family << ": " << traffic;
        const std::string after = traffic.substr(failed + 7);
        if (std::string(c.family) == "k") {
            EXPECT_EQ(after.rfind(reset, 0), 0u) << traffic;
            EXPECT_EQ(run.rig.Clock().Stat("host.sleep").micros % 500000, 0u);
            EXPECT_EQ(run.rig.Chip().RestartCount(), 1u);
        } else {
            EXPECT_EQ(after, "W9=00") << traffic;
            EXPECT_FALSE(run.rig.Chip().InDownloadMode());
        }
    }
}

TEST(Download, AnInPackageCameraKeepsItsVariantOnceTheProbeSawIt) {
    // The probe saw the in-package mode once; then the chip's boot registers say serial flash. The
    // camera still takes the in-package variant, which now writes to the serial flash, also for a
    // part without a command table of its own (it gets table 0; there is no patch byte to choose).
    // The last case also leaves the length query after the command table unanswered.
    const std::pair<const char*, bool> cases[] = {{"121", false}, {"120", false}, {"121", true}};
    for (const auto& [part, unanswered] : cases) {
        Keys keys = {{"family", "l"}, {"chip_id", "0xD2"}, {"in_package", "65536"}, {"flash", part}};
        if (unanswered) keys.push_back({"fault1", "fail=xu_length:15"});
        Flashing run(keys, 16384, true);
        uint8_t code = 0;
        ASSERT_EQ(CamProbeFlashType(run.h, &code), 0);
        ASSERT_EQ(code, 255);
        ExtUnit& u = *run.h->pExt;
        ASSERT_EQ(WriteReg8(u, 0x20F5, 0x00), 0);
        ASSERT_EQ(WriteReg8(u, 0x20F6, 0x00), 0);
        EXPECT_EQ(run.Download(), 0) << part;
        const auto lines = run.NewTrace();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.front(), kit::Format(text::kStartSf, std::atoi(part)));
        EXPECT_TRUE(std::equal(run.image.begin(), run.image.end(), run.Flash().begin())) << part;
        EXPECT_EQ(run.status, 23) << part;
    }
}

TEST(Download, OneGarbledBootRegisterReadDoesNotSendAnInPackageDownloadToTheSerialFlash) {
    for (const char* fault : {"corrupt=reg_read:0x20F5@1", "corrupt=reg_read:0x20F6@1"}) {
        Flashing run({{"family", "l"}, {"chip_id", "0xD2"}, {"in_package", "65536"}}, 65536, true);
        // Counted from here: the download's probe is the first to read the register.
        emu::quelmar::Fault f;
        std::string error;
        ASSERT_TRUE(emu::quelmar::ParseFault(fault, f, error)) << error;
        run.rig.Chip().Faults().push_back(f);
        EXPECT_EQ(run.Download(), 0) << fault;
        EXPECT_EQ(run.NewTrace().front(), kit::Format(text::kStartMcm, 255)) << fault;
        EXPECT_EQ(Bytes(run.rig.Chip().InPackage()->Image()), run.image) << fault;
    }
}

TEST(Download, DirectPathFillsTheLastSectorWithZeros) {
    Flashing run({{"family", "g"}, {"flash", "130"}}, 0xC800);
    ASSERT_EQ(run.Download(), 0);
    EXPECT_TRUE(std::equal(run.image.begin(), run.image.end(), run.Flash().begin()));
    EXPECT_TRUE(std::all_of(run.Flash().begin() + 0xC800, run.Flash().begin() + 0xD000,
                            [](uint8_t b) { return b == 0; }));
    EXPECT_TRUE(std::all_of(run.Flash().begin() + 0xD000, run.Flash().begin() + 0x10000,
                            [](uint8_t b) { return b == 0xFF; }));
}

TEST(Download, FamilyKWithType121) {
    Flashing run({{"family", "k"}, {"flash", "121"}}, 65536);
    run.image[0] = 0x12;
    run.image[1] = 0x34;
    ASSERT_EQ(run.Download(), 0);
    EXPECT_EQ(run.image[2], 4);
    EXPECT_EQ(run.image[0], 0xF9);
    EXPECT_EQ(run.image[1], 0xFF);
    EXPECT_EQ(run.Flash()[0], 0x89);
    EXPECT_EQ(run.Flash()[1], 0x17);
}

TEST(Download, JVariant) {
    Flashing run({{"family", "j"}, {"flash", "123"}}, 65536);
    ASSERT_EQ(run.Download(), 0);
    EXPECT_EQ(run.image[2], 2);
    EXPECT_EQ(Bytes(run.Flash().begin(), run.Flash().begin() + 65536), run.image);
    EXPECT_EQ(run.rig.Chip().CommitCount(), 1u);
    EXPECT_EQ(run.checksum, 0xEE) << "this variant reports no checksums";
    EXPECT_EQ(run.rig.Clock().Stat("host.sleep").micros, (16 * 10 + 1000) * 1000u);
    const auto lines = run.NewTrace();
    const std::string match = "FW checksum = 0x" + [&] {
        char b[3];
        std::snprintf(b, sizeof b, "%02X", Xor(run.image));
        return std::string(b);
    }();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
        return l.rfind(match, 0) == 0 && l.find("**Checksum Match!**\r\n") != std::string::npos;
    }));
    EXPECT_EQ(run.steps.back(), (std::pair<int, int>{23, 100}));
}

TEST(Download, InPackageVariantWaitsForTheBusyFlag) {
    Flashing run({{"family", "l"}, {"chip_id", "0xD2"}, {"in_package", "65536"}, {"busy_reads", "3"}}, 65536,
                 true);
    ASSERT_EQ(run.Download(), 0);
    EXPECT_EQ(Bytes(run.rig.Chip().InPackage()->Image()), run.image);
    const auto lines = run.NewTrace();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), text::kWaitSecond), 4);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), kit::Format(text::kBusyFlag, 1)), 3);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), kit::Format(text::kBusyFlag, 0)), 1);
    EXPECT_EQ(lines.front(), kit::Format(text::kStartMcm, 255));
    EXPECT_NE(std::find(run.steps.begin(), run.steps.end(), std::pair<int, int>{24, 95}), run.steps.end());
    EXPECT_EQ(run.steps.back(), (std::pair<int, int>{23, 100}));
    EXPECT_EQ(run.checksum, Xor(run.image));
    EXPECT_EQ(run.device, run.checksum);
}

TEST(Download, ABusyFlagThatNeverClearsEndsTheWait) {
    Flashing run({{"family", "l"}, {"chip_id", "0xD2"}, {"in_package", "65536"}, {"fault1", "busy=hold"}},
                 4096, true);
    EXPECT_EQ(run.Download(), 1);
    const auto lines = run.NewTrace();
    EXPECT_NE(std::find(lines.begin(), lines.end(), kit::Format(text::kBusyGaveUp, 30u)), lines.end());
    EXPECT_EQ(std::count(lines.begin(), lines.end(), text::kWaitSecond), 31);
    EXPECT_EQ(run.status, 25);
    EXPECT_FALSE(run.rig.Chip().Committed());
}

TEST(Download, RefusalsBeforeTheDevice) {
    struct Case {
        const char* name;
        Keys keys;
        bool withImage;
        uint32_t length;
        int result;
        int status;
    } cases[] = {
        {"unknown part", {{"flash", "120"}}, true, 65536, 160, 25},
        {"unknown part, 'j'", {{"family", "j"}, {"flash", "120"}}, true, 65536, 160, 25},
        {"no image", {}, false, 100, 1, 25},
        {"empty image", {}, true, 0, 1, 25},
        {"too short for the patch byte", {{"family", "f"}}, true, 0xC006, 1, 25},
        {"no image, 'j'", {{"family", "j"}}, false, 100, 1, 20},
    };
    for (const Case& c : cases) {
        Flashing run(c.keys, 65536);
        EXPECT_EQ(run.DownloadRaw(c.withImage ? run.image.data() : nullptr, c.length), c.result) << c.name;
        EXPECT_EQ(run.status, c.status) << c.name;
        EXPECT_EQ(run.Count("xu.write.s9") + run.Count("xu.write.s10"), 0u) << c.name;
    }
}

TEST(Download, ChunkSizesTheLoopCannotUseAreFailures) {
    for (const char* chunk : {"chunk=0", "chunk=8192"}) {
        Flashing run({{"family", "f"}, {"fault1", chunk}}, 65536);
        EXPECT_EQ(run.Download(), 1) << chunk;
        const auto lines = run.NewTrace();
        EXPECT_NE(std::find(lines.begin(), lines.end(), text::kGetSizeFail), lines.end()) << chunk;
        EXPECT_EQ(run.Count("xu.write.s10"), 0u) << chunk;
        EXPECT_FALSE(run.rig.Chip().InDownloadMode()) << chunk;
        EXPECT_EQ(run.status, 23) << chunk;
    }
}

TEST(StoredJob, QuietVariantReportsWithoutTracing) {
    BenchRig rig(QuelmarBench({{"family", "k"}, {"flash", "121"}}));
    CamHolder h = nullptr;
    ASSERT_EQ(CamInit(&h, 'e', 0), 0);
    auto job = std::make_unique<StoredJob>();
    Bytes image = Pattern(65536, 8);
    std::copy(image.begin(), image.end(), job->image);
    job->length = 65536;
    job->flashType = 121;
    ASSERT_EQ(CamStoreJob(h, job.get()), 0);
    Steps steps;
    rig.Clock().onAdvance = [&](uint64_t) {
        std::pair<int, int> now{job->status, job->progress};
        if (job->status && (steps.empty() || steps.back() != now)) steps.push_back(now);
    };
    const size_t before = rig.trace.lines.size();
    EXPECT_EQ(CamRunStoredJobQuiet(h), 0);
    rig.Clock().onAdvance = nullptr;
    EXPECT_EQ(rig.trace.lines.size(), before) << "the quiet variant prints nothing";
    EXPECT_EQ(job->status, 22);
    EXPECT_EQ(job->progress, 95);
    Steps want = {{20, 5}};
    for (auto s : TransferSteps(85)) want.push_back(s);
    want.push_back({22, 90});
    EXPECT_EQ(steps, want);
    EXPECT_EQ(job->checksum, job->deviceChecksum);
    EXPECT_TRUE(rig.Chip().InDownloadMode()) << "never leaves download mode";
    EXPECT_TRUE(rig.Chip().Committed()) << "family 'k' commits like 'j' and 'l' here";
    EXPECT_EQ(rig.Chip().Flash().Image()[0], 0xFF) << "no F9 FF mark, so the commit leaves the header";
    job->length = 65537;
    EXPECT_EQ(CamStoreJob(h, job.get()), 1);
    CamDestroy(&h);
}

TEST(StoredJob, RunsTheGenericVariantWithTheStoredImage) {
    BenchRig rig(QuelmarBench({{"family", "f"}, {"flash", "121"}}));
    CamHolder h = nullptr;
    ASSERT_EQ(CamInit(&h, 'e', 0), 0);
    EXPECT_EQ(CamRunStoredJob(h), 1) << "nothing stored yet";
    auto job = std::make_unique<StoredJob>();
    Bytes image = Pattern(65536, 2);
    std::copy(image.begin(), image.end(), job->image);
    job->length = 65536;
    job->flashType = 121;
    ASSERT_EQ(CamStoreJob(h, job.get()), 0);
    job->image[5] ^= 0xFF;  // the handle keeps its own copy
    EXPECT_EQ(CamRunStoredJob(h), 0);
    EXPECT_EQ(job->status, 23);
    EXPECT_EQ(rig.Chip().Flash().Image()[5], image[5]);
    CamDestroy(&h);
}

}  // namespace

namespace {

// The download variants and the direct path put the verified mark in only after the image is in:
// cut halfway, every one leaves a camera that comes back in ROM mode, also with a file whose header
// already holds the verified mark (a dump of a working camera), which the pending mark cannot
// clear.
TEST(Download, ACutHalfwayLeavesNoVerifiedMarkOnAnyPath) {
    struct Case {
        const char* name;
        Keys keys;
        char family;
    };
    const Case cases[] = {
        {"generic i", {{"family", "i"}, {"flash", "124"}}, 'i'},
        {"generic k", {{"family", "k"}, {"flash", "127"}, {"chunk", "2048"}}, 'k'},
        {"generic h", {{"family", "h"}, {"flash", "121"}}, 'h'},
        {"direct h", {{"family", "h"}, {"flash", "129"}}, 'h'},
        {"j variant", {{"family", "j"}, {"flash", "131"}, {"carrier", "private"}}, 'j'},
    };
    for (const Case& c : cases) for (const bool verifiedHeader : {false, true}) {
        SCOPED_TRACE(std::string(c.name) + (verifiedHeader ? ", verified header" : ""));
        auto header = [&](Bytes& image) {
            if (!verifiedHeader) return;
            image[0] = c.family == 'i' || c.family == 'k' ? 0x89 : 0x55;
            image[1] = c.family == 'i' ? 0x16 : c.family == 'k' ? 0x17 : image[1];
        };
        // The cut falls in the write of the image's ninth 4 KiB: the ninth chunk (selector 10) or the
        // first half-page pass of the ninth sector (selector 15).
        uint32_t ninth = 0;
        {
            Flashing whole(c.keys, 65536);
            header(whole.image);
            std::vector<emu::quelmar::WireRequest> wire;
            whole.rig.Chip().RecordWire(&wire);
            ASSERT_EQ(whole.Download(), 0);
            whole.rig.Chip().RecordWire(nullptr);
            const uint8_t selector = std::string(c.name) == "direct h" ? 15 : 10;
            const uint32_t nth = std::string(c.name) == "direct h" ? 17 : 65536 / whole.rig.Chip().Config().chunkBytes / 2 + 1;
            for (uint32_t i = 0, seen = 0; i < wire.size() && !ninth; ++i)
                if (wire[i].kind == 'W' && wire[i].selector == selector && ++seen == nth) ninth = i + 1;
            ASSERT_NE(ninth, 0u);
            EXPECT_NE(emu::BootByMark(c.family, whole.Flash(), whole.rig.Chip().DownloadOk(), 0x3A7C, 65536),
                      emu::BootMode::Rom);
        }
        Flashing run(c.keys, 65536);
        header(run.image);
        const uint32_t at = run.rig.Chip().RequestCount() + ninth;
        emu::quelmar::Fault fault;
        std::string error;
        ASSERT_TRUE(emu::quelmar::ParseFault("cut=" + std::to_string(at) + ":2000", fault, error)) << error;
        run.rig.Chip().Faults().push_back(fault);
        EXPECT_EQ(run.Download(), 1);
        ASSERT_TRUE(run.rig.Chip().PowerCut());
        EXPECT_EQ(emu::BootByMark(c.family, run.Flash(), run.rig.Chip().DownloadOk(), 0x3A7C, 65536),
                  emu::BootMode::Rom);
    }
}

}  // namespace
