// Opening a camera: which devices are taken, the family a chip is given, the carrier and property
// set found; the camera count; the USB identity and its parsers.
#include <gtest/gtest.h>

#include <cstring>

#include "camlib/internals.h"
#include "camlib/testing/bench_rig.h"
#include "kit/text.h"

namespace {

using namespace camlib;
using camlib::testing::BenchIni;
using camlib::testing::BenchRig;
using camlib::testing::CameraSection;
using camlib::testing::Keys;
using camlib::testing::QuelmarBench;

struct Opened {
    CamHolder h = nullptr;
    int result = -1;
    Opened(char family, int device) { result = CamInit(&h, family, device); }
    ~Opened() { CamDestroy(&h); }
    ExtUnit& Unit() { return *h->pExt; }
};

const char* const kVirtual = text::kVirtualCamera;

TEST(Discovery, OnlyUsbPathsAreTaken) {
    struct Case {
        const char* path;
        int result;
    } cases[] = {
        {"\\\\?\\usb#vid_3a7c&pid_b5a4&mi_00#6&1a2b3c4d&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}"
         "\\global",
         0},
        {"\\\\?\\USB#VID_3A7C&PID_B5A4&MI_00#6&1A2B3C4D&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}"
         "\\global",
         0},
        {"\\\\?\\Usb#vid_3a7c&pid_b5a4&mi_00#6&1a2b3c4d&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}"
         "\\global",
         1},
        {"\\\\?\\root#image#0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global", 1},
        {"\\\\?\\us", 1},
    };
    for (const Case& c : cases) {
        BenchRig rig(QuelmarBench({{"path", c.path}}));
        ASSERT_TRUE(rig.Ok()) << rig.Error();
        Opened o('e', 0);
        EXPECT_EQ(o.result, c.result) << c.path;
        EXPECT_EQ(rig.Traced(kVirtual), c.result != 0) << c.path;
        if (c.result == 0) {
            EXPECT_STREQ(o.h->path, c.path);
        }
    }
}

TEST(Discovery, TheDeviceIndexCountsEveryVideoInputDevice) {
    const std::string virtualCam = CameraSection("soft", {{"bus", "root"}, {"chip", "none"}});
    const std::string usbCam = CameraSection("cam", {{"family", "g"}});
    {
        BenchRig rig(BenchIni({"soft", "cam"}, {virtualCam, usbCam}));
        Opened o('e', 1);
        EXPECT_EQ(o.result, 0);
        EXPECT_EQ(o.Unit().family, 'g');
        EXPECT_FALSE(rig.Traced(kVirtual)) << "position 0 is below the index and not looked at";
    }
    {
        BenchRig rig(BenchIni({"cam"}, {usbCam}));
        Opened o('e', 1);
        EXPECT_EQ(o.result, 1);
    }
    {
        // From index 0 the software camera is passed over and the USB one found after it.
        BenchRig rig(BenchIni({"soft", "cam"}, {virtualCam, usbCam}));
        Opened o('e', 0);
        EXPECT_EQ(o.result, 0);
        EXPECT_TRUE(rig.Traced(kVirtual));
    }
}

TEST(Discovery, FamilyFromTheIdentificationRegister) {
    struct Case {
        const char* chipId;
        const char* sub;
        char request;
        int result;
        char family;
        uint8_t level;
    } cases[] = {
        {"0xA5", "0x10", 'e', 0, 'd', 0}, {"0xA5", "0x00", 'e', 0, 'i', 0}, {"0xA5", "0x10", 'i', 0, 'd', 0},
        {"0xE3", "0", 'e', 0, 'k', 0},    {"0xE3", "0", 'k', 1, 0, 0},      {"0xC1", "0", 'k', 0, 'k', 0},
        {"0x61", "0", 'e', 0, 'f', 2},    {"0x61", "0", 'f', 0, 'f', 2},    {"0x61", "0", 'g', 1, 0, 0},
        {"0x95", "0", 'g', 0, 'g', 2},    {"0x83", "0", 'h', 0, 'h', 0},    {"0xB7", "0", 'j', 0, 'j', 0},
        {"0xD2", "0", 'l', 0, 'l', 0},    {"0xD2", "0", 'k', 1, 0, 0},      {"0x50", "0", 'e', 1, 0, 0},
        {"0xF0", "0", 'e', 1, 0, 0},      {"0x00", "0", 'e', 1, 0, 0},
    };
    for (const Case& c : cases) {
        BenchRig rig(QuelmarBench({{"chip_id", c.chipId}, {"sub_variant", c.sub}}));
        ASSERT_TRUE(rig.Ok()) << rig.Error();
        Opened o(c.request, 0);
        EXPECT_EQ(o.result, c.result) << c.chipId << " for '" << c.request << "'";
        if (c.result != 0) continue;
        EXPECT_EQ(o.Unit().family, c.family) << c.chipId;
        EXPECT_EQ(o.Unit().selectLevel, c.level) << c.chipId;
        EXPECT_EQ(o.h->connected, 'y');
    }
}

TEST(Discovery, RequestsOutsideEToLAreRefusedBeforeAnyDevice) {
    BenchRig rig(QuelmarBench({}));
    for (char family : {'a', 'd', 'm', '\0'}) {
        CamHolder h = nullptr;
        EXPECT_EQ(CamInit(&h, family, 0), 160) << family;
        EXPECT_EQ(h, nullptr);
    }
    EXPECT_EQ(camlib::testing::Transfers(rig.Clock()), 0u);
}

TEST(Discovery, TheCarrierFollowsTheDriver) {
    struct Case {
        const char* carrier;
        int result;
        int32_t dt;
        bool custom;
    } cases[] = {{"ks", 0, kDtUvc, false},
                 {"private", 0, kDtQuelmar, true},
                 {"both", 0, kDtQuelmarAV, true},
                 {"private_only", 1, 0, false},
                 {"none", 1, 0, false}};
    for (const Case& c : cases) {
        BenchRig rig(QuelmarBench({{"carrier", c.carrier}, {"family", "h"}}));
        Opened o('e', 0);
        EXPECT_EQ(o.result, c.result) << c.carrier;
        if (c.result != 0) continue;
        EXPECT_EQ(o.Unit().dt, c.dt) << c.carrier;
        EXPECT_EQ(o.Unit().custom != nullptr, c.custom) << c.carrier;
        EXPECT_EQ(o.Unit().family, 'h') << c.carrier;
        uint8_t id = 0;
        EXPECT_EQ(ReadReg8(o.Unit(), 0x20FF, &id), 0) << c.carrier;
        EXPECT_EQ(id, 0x80) << c.carrier;
    }
}

TEST(Discovery, AFilterWithoutIKsControlIsPassedOverForTheNextCamera) {
    // The first camera's filter offers the maker's interface but no IKsControl: it is released and
    // the next camera is opened, even though the private carrier alone could have reached it.
    BenchRig rig(BenchIni({"a", "b"}, {CameraSection("a", {{"family", "h"}, {"carrier", "private_only"}}),
                                       CameraSection("b", {{"family", "g"}, {"port", "4"}})}));
    ASSERT_TRUE(rig.Ok()) << rig.Error();
    Opened o('e', 0);
    ASSERT_EQ(o.result, 0);
    EXPECT_EQ(o.Unit().family, 'g');
    EXPECT_EQ(rig.Count(text::kKsControlFail), 1u);
}

TEST(Discovery, TheSecondPropertySetIsTriedOnceWhenTheFirstIsRefused) {
    for (const Keys& keys : {Keys{{"xu_guid", "second"}}, Keys{{"fault1", "refuse=first_set"}}}) {
        BenchRig rig(QuelmarBench(keys));
        Opened o('e', 0);
        ASSERT_EQ(o.result, 0) << keys[0].second;
        EXPECT_EQ(rig.Count(text::kWrongGuid), 1u);
        EXPECT_EQ(o.Unit().set, kSecondPropertySet);
        EXPECT_EQ(o.Unit().node, kEmulatedExtensionNode);
        EXPECT_EQ(LastChosenPropertySet(), kSecondPropertySet);
    }
    BenchRig rig(QuelmarBench({}));
    Opened o('e', 0);
    EXPECT_FALSE(rig.Traced(text::kWrongGuid));
    EXPECT_EQ(LastChosenPropertySet(), kFirstPropertySet);
}

TEST(Discovery, AnotherMakersExtensionUnitIsPassedOver) {
    // Same node type, neither of the chip's property sets: the search goes on to the next node.
    BenchRig rig(QuelmarBench({{"ks_nodes", "camera,other_xu,processing,xu,streaming"}}));
    Opened o('e', 0);
    ASSERT_EQ(o.result, 0);
    EXPECT_EQ(o.Unit().node, 3u);
    EXPECT_EQ(o.Unit().set, kFirstPropertySet);
    EXPECT_EQ(rig.Count(text::kWrongGuid), 1u) << "said for the foreign unit";
}

TEST(Discovery, NotReadyIsWaitedForWithinABound) {
    {
        BenchRig rig(QuelmarBench({{"fault1", "notready=3"}}));
        Opened o('e', 0);
        EXPECT_EQ(o.result, 0);
        EXPECT_EQ(rig.Clock().Stat("host.sleep").count, 3u);
        EXPECT_EQ(rig.Clock().Stat("host.sleep").micros, 60000u);
    }
    {
        BenchRig rig(QuelmarBench({{"fault1", "notready=100000"}}));
        Opened o('e', 0);
        EXPECT_EQ(o.result, 1);
        EXPECT_TRUE(rig.Traced(kit::Format(text::kNotReadyGaveUp, 2000u, 2u)));
        EXPECT_EQ(rig.Clock().Stat("host.sleep").count, kNotReadyTries);
    }
}

TEST(Discovery, ASkippedDeviceLeavesNothingBehind) {
    // The first camera (both carriers, family 'j') is not the family asked for; the second has the
    // private carrier only. Everything the second is asked must reach the second chip.
    BenchRig rig(BenchIni({"a", "b"},
                          {CameraSection("a", {{"family", "j"}, {"carrier", "both"}, {"flash", "121"}}),
                           CameraSection("b", {{"family", "f"}, {"carrier", "private"}, {"flash", "122"}})}));
    Opened o('f', 0);
    ASSERT_EQ(o.result, 0);
    EXPECT_EQ(o.Unit().dt, kDtQuelmar);
    uint8_t code = 0;
    EXPECT_EQ(CamProbeFlashType(o.h, &code), 0);
    EXPECT_EQ(code, 122);
}

TEST(Discovery, TwoCamerasOfDifferentFamiliesKeepTheirOwnPortSettings) {
    // 'f' selects its flash with chip-select level 2, 'h' with 0: each handle keeps its own.
    BenchRig rig(BenchIni({"a", "b"},
                          {CameraSection("a", {{"family", "f"}, {"flash_status", "0x0C"}}),
                           CameraSection("b", {{"family", "h"}, {"port", "4"}, {"instance", "0badcafe"}})}));
    Opened f('f', 0), h('h', 0);
    ASSERT_EQ(f.result, 0);
    ASSERT_EQ(h.result, 0);
    uint8_t sf = 0xAA, sh = 0xAA;
    EXPECT_EQ(CamFlashStatus(f.h, &sf), 0);
    EXPECT_EQ(CamFlashStatus(h.h, &sh), 0);
    EXPECT_EQ(sf, 0x0C);
    EXPECT_EQ(sh, 0x00);
}

TEST(Discovery, InitAllOpensOneHandlePerPosition) {
    BenchRig rig(BenchIni({"a", "b"},
                          {CameraSection("a", {{"family", "h"}}),
                           CameraSection("b", {{"family", "j"}, {"port", "4"}, {"instance", "0badcafe"}})}));
    CamHolder holders[3] = {};
    EXPECT_EQ(CamInitAll(holders, 3), 0);
    ASSERT_NE(holders[0], nullptr);
    ASSERT_NE(holders[1], nullptr);
    EXPECT_EQ(holders[0]->pExt->family, 'h');
    EXPECT_EQ(holders[1]->pExt->family, 'j');
    ASSERT_NE(holders[2], nullptr) << "made, but nothing at position 2";
    EXPECT_NE(holders[2]->connected, 'y');
    for (CamHolder& h : holders) CamDestroy(&h);
}

TEST(Discovery, CameraCountTakesUsbDevicesWithACarrier) {
    BenchRig rig(BenchIni(
        {"ks", "priv", "plain", "soft", "nothing"},
        {CameraSection("ks", {}), CameraSection("priv", {{"carrier", "private"}, {"port", "4"}}),
         CameraSection("plain", {{"chip", "none"}, {"port", "5"}}), CameraSection("soft", {{"bus", "root"}}),
         CameraSection("nothing", {{"carrier", "none"}, {"port", "6"}})}));
    int count = -1;
    EXPECT_EQ(CamCount(&count), 0);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(CamCount(nullptr), 1);
}

TEST(Hex4, DigitsBlanksAndTheColonRange) {
    struct Case {
        const char text[5];
        uint16_t value;
    } cases[] = {{"1234", 0x1234}, {"abcd", 0xABCD}, {"ABCD", 0xABCD}, {":;<=", 0xABCD},
                 {">?09", 0xEF09}, {"12 4", 0x1204}, {" 1 2", 0x0102}, {"12G4", 0xFFFF},
                 {"-123", 0xFFFF}, {"@000", 0xFFFF}, {"12", 0x1200},   {"", 0x0000}};
    for (const Case& c : cases) EXPECT_EQ(ParseHex4(c.text), c.value) << '"' << c.text << '"';
}

TEST(UsbIdentity, KeyAndHardwareIdParsing) {
    EXPECT_EQ(InstanceKey("usb\\vid_1234&pid_5678&mi_00\\6&1a2b3c4d&0&0000"), "1a2b3c4d");
    EXPECT_EQ(InstanceKey("USB\\VID_1234&PID_5678\\5&0BADCAFE&0&3"), "0badcafe");
    EXPECT_EQ(InstanceKey("USB\\VID_1234&PID_5678"), "");
    EXPECT_EQ(InstanceKey("USB\\VID_1234\\serial"), "");
    struct Case {
        const char* id;
        uint16_t vid, pid, rev;
    } cases[] = {{"USB\\VID_1234&PID_5678&REV_0100&MI_00", 0x1234, 0x5678, 0x0100},
                 {"USB\\VID_3a7c&PID_b5a4&REV_001:", 0x3A7C, 0xB5A4, 0x001A},
                 {"USB\\VID_12", 0x1200, 0, 0},
                 {"USB\\VID_XXXX&PID_5678&REV_0100", 0xFFFF, 0x5678, 0x0100}};
    for (const Case& c : cases) {
        uint16_t vid = 1, pid = 1, rev = 1;
        ParseHardwareId(c.id, vid, pid, rev);
        EXPECT_EQ(vid, c.vid) << c.id;
        EXPECT_EQ(pid, c.pid) << c.id;
        EXPECT_EQ(rev, c.rev) << c.id;
    }
}

TEST(UsbIdentity, FromTheImagingDeviceOfTheOpenedCamera) {
    BenchRig rig(BenchIni(
        {"other", "cam"},
        {CameraSection("other", {{"pid", "1111"}, {"port", "1"}, {"instance", "00000001"}}),
         CameraSection(
             "cam",
             {{"vid", "3A7C"}, {"pid", "B5A7"}, {"rev", "0123"}, {"port", "4"}, {"instance", "1a2b3c4d"}})}));
    Opened o('e', 1);
    ASSERT_EQ(o.result, 0);
    UsbIdentity id;
    ASSERT_EQ(CamUsbIdentity(o.h, &id), 0);
    EXPECT_EQ(id.vid, 0x3A7C);
    EXPECT_EQ(id.pid, 0xB5A7);
    EXPECT_EQ(id.rev, 0x0123);
    EXPECT_EQ(id.port, 4);
    emu::UsbTopology tree;
    std::string error;
    ASSERT_TRUE(tree.Build(rig.Bench(), nullptr, error)) << error;
    EXPECT_EQ(std::string(id.hub), tree.HubInstanceOf(rig.Bench().cameras[1]));
    EXPECT_FALSE(std::string(id.hub).empty());
}

// A camera that boots by its mark: with no verified mark it is found in ROM mode, under the ROM's
// identity, and its extension unit answers; once a restart finds the verified mark over an image
// that is not whole, it is no longer found at all.
TEST(UsbIdentity, ACameraBootingByItsMarkShowsTheRomIdentityOrNothing) {
    BenchRig rig(QuelmarBench({{"boot", "mark"}, {"family", "h"}, {"flash", "121"}, {"rom_pid", "2081"}}));
    ASSERT_TRUE(rig.Ok()) << rig.Error();
    int count = -1;
    EXPECT_EQ(CamCount(&count), 0);
    EXPECT_EQ(count, 1);
    {
        Opened o('e', 0);
        ASSERT_EQ(o.result, 0);
        UsbIdentity id;
        ASSERT_EQ(CamUsbIdentity(o.h, &id), 0);
        EXPECT_EQ(id.vid, 0x04FC);
        EXPECT_EQ(id.pid, 0x2081);
        EXPECT_EQ(id.rev, 0x0100);
        uint8_t code = 0;
        EXPECT_EQ(CamProbeFlashType(o.h, &code), 0);
        EXPECT_EQ(code, 121) << "the ROM answers the serial-flash port";

        std::vector<uint8_t> header(65536, 0xFF);
        header[0] = 0x55;
        rig.Chip().Flash().LoadImage(header.data(), header.size());
        EXPECT_TRUE(CamSoftReset(o.h));
    }
    Opened gone('e', 0);
    EXPECT_NE(gone.result, 0) << "dead: not enumerated";
}

TEST(UsbIdentity, ACameraWithoutItsImagingDeviceIsAFailure) {
    // The opened path names an instance no present imaging device has.
    BenchRig rig(QuelmarBench(
        {{"path", "\\\\?\\usb#vid_3a7c&pid_b5a4#7&deadbeef&0&1#{65e8773d-8f56-11d0-a3b9-00a0c9223196}"}}));
    Opened o('e', 0);
    ASSERT_EQ(o.result, 0);
    UsbIdentity id;
    id.vid = 0x4242;
    EXPECT_EQ(CamUsbIdentity(o.h, &id), 1);
    EXPECT_EQ(id.vid, 0x4242);
}

}  // namespace
