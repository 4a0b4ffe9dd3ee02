// The USB descriptor lookup: the request record, the configuration scan on well-formed and broken
// descriptors, and the walk over an emulated bench's controllers and hubs.
#include <gtest/gtest.h>

#include <cstring>

#include "camlib/internals.h"
#include "camlib/testing/bench_rig.h"
#include "camlib/usb_lookup.h"
#include "emu/usb_topology.h"

namespace {

using namespace camlib;
using camlib::testing::BenchIni;
using camlib::testing::BenchRig;
using camlib::testing::CameraSection;
using camlib::testing::Keys;
using camlib::testing::QuelmarBench;
using Bytes = std::vector<uint8_t>;

TEST(DescriptorRequest, RecordLayout) {
    uint8_t b[12] = {};
    EncodeDescriptorRequest(b, 3, 0x0302, 0x0409, 255);
    EXPECT_EQ(Bytes(b, b + 12),
              (Bytes{0x03, 0x00, 0x00, 0x00, 0x80, 0x06, 0x02, 0x03, 0x09, 0x04, 0xFF, 0x00}));
    EncodeDescriptorRequest(b, 0x104, 0x0200, 0, 2048);
    EXPECT_EQ(Bytes(b, b + 12),
              (Bytes{0x04, 0x01, 0x00, 0x00, 0x80, 0x06, 0x00, 0x02, 0x00, 0x00, 0x00, 0x08}));
}

TEST(StringDescriptor, ToAnsiWithinTheSlot) {
    char slot[kLookupStringBytes];
    const Bytes korvath = emu::UsbTopology::StringDescriptor("Korvath");
    StringToAnsi(korvath.data(), static_cast<uint32_t>(korvath.size()), slot);
    EXPECT_STREQ(slot, "Korvath");
    // Through the ANSI code page: e-acute and the euro sign exist in it, a Cyrillic letter does not.
    const Bytes wide = {10, 3, 'A', 0, 0xE9, 0x00, 0xAC, 0x20, 0x3A, 0x04};
    StringToAnsi(wide.data(), 10, slot);
    EXPECT_STREQ(slot, "A\xE9\x80?");
    const Bytes longText = emu::UsbTopology::StringDescriptor(std::string(100, 'x'));
    StringToAnsi(longText.data(), static_cast<uint32_t>(longText.size()), slot);
    EXPECT_EQ(std::strlen(slot), kLookupStringBytes - 1);
    const Bytes lying = {200, 3, 'A', 0};  // says 200 bytes, has 4
    StringToAnsi(lying.data(), 4, slot);
    EXPECT_STREQ(slot, "A");
    const Bytes notAString = {4, 2, 'A', 0};
    StringToAnsi(notAString.data(), 4, slot);
    EXPECT_STREQ(slot, "");
}

// A code page that spends two bytes on every character, as a double-byte one may.
struct TwoBytesEach final : CodePagePort {
    std::string FromUtf16(const std::u16string& text) override {
        std::string out;
        for (char16_t c : text) out += {static_cast<char>(0x81 + c % 8), static_cast<char>('@' + c % 32)};
        return out;
    }
};

TEST(StringDescriptor, TheSystemCodePageConvertsAndALongTextIsCutBetweenCharacters) {
    TwoBytesEach page;
    char slot[kLookupStringBytes];
    const Bytes text = emu::UsbTopology::StringDescriptor(std::string(40, 'x'));
    StringToAnsi(text.data(), static_cast<uint32_t>(text.size()), slot, &page);
    EXPECT_EQ(std::strlen(slot), 62u) << "31 whole characters; half of the 32nd would not fit";
    EXPECT_EQ(std::string(slot, 2), page.FromUtf16(u"x"));
}

// Counts the string-descriptor requests a lookup makes.
struct CountingHubs final : UsbHubPort {
    struct Hub final : UsbHub {
        std::unique_ptr<UsbHub> inner;
        std::vector<uint16_t>& strings;
        Hub(std::unique_ptr<UsbHub> h, std::vector<uint16_t>& s) : inner(std::move(h)), strings(s) {}
        uint32_t PortCount(uint8_t& ports) override { return inner->PortCount(ports); }
        uint32_t Connection(uint32_t port, UsbConnection& out) override { return inner->Connection(port, out); }
        uint32_t ConnectionName(uint32_t port, std::string& name) override { return inner->ConnectionName(port, name); }
        uint32_t DescriptorRequest(uint8_t* buffer, uint32_t size, uint32_t& returned) override {
            if (buffer[7] == 3) strings.push_back(static_cast<uint16_t>(buffer[6] | buffer[7] << 8));
            return inner->DescriptorRequest(buffer, size, returned);
        }
    };
    UsbHubPort& inner;
    std::vector<uint16_t> strings;
    explicit CountingHubs(UsbHubPort& i) : inner(i) {}
    std::unique_ptr<UsbHostController> OpenHostController(int n) override { return inner.OpenHostController(n); }
    uint32_t OpenHub(const std::string& name, std::unique_ptr<UsbHub>& out) override {
        std::unique_ptr<UsbHub> hub;
        const uint32_t e = inner.OpenHub(name, hub);
        if (hub) out = std::make_unique<Hub>(std::move(hub), strings);
        return e;
    }
};

TEST(UsbLookup, TheLanguageListIsAskedOnlyForADeviceWithStrings) {
    struct Case {
        Keys keys;
        std::vector<uint16_t> requests;
    } cases[] = {
        {{{"manufacturer", ""}, {"product", ""}}, {}},
        {{{"manufacturer", ""}}, {0x0300, 0x0302}},
        {{{"serial", "SN1"}}, {0x0300, 0x0301, 0x0302, 0x0303}},
    };
    for (const Case& c : cases) {
        BenchRig rig(QuelmarBench(c.keys));
        ASSERT_TRUE(rig.Ok()) << rig.Error();
        CountingHubs hubs(*rig.Ports().hubs);
        LookupRecord record;
        EXPECT_EQ(FindOnPort(hubs, kFirstPropertySet, 3, record), 0);
        EXPECT_EQ(record.vid, 0x3A7C);
        EXPECT_EQ(hubs.strings, c.requests) << c.keys[0].first;
    }
}

TEST(ConfigurationScan, FindsTheUnitAndSurvivesBrokenDescriptors) {
    emu::CameraRecord cam;
    cam.keys["xu_guid"] = "first";
    const Bytes good = emu::UsbTopology::ConfigurationDescriptor(cam);
    cam.keys["xu_guid"] = "second";
    const Bytes other = emu::UsbTopology::ConfigurationDescriptor(cam);
    cam.keys["xu_guid"] = "none";
    const Bytes none = emu::UsbTopology::ConfigurationDescriptor(cam);
    // Where the extension unit starts in the good set.
    size_t unit = 0;
    for (size_t at = 0; at < good.size(); at += good[at])
        if (good[at + 1] == 0x24 && good[at + 2] == 6) unit = at;
    ASSERT_NE(unit, 0u);

    Bytes zeroLength = good;
    zeroLength[unit - 11] = 0;  // the processing unit before it claims no length
    Bytes shortTotal = good;
    shortTotal[2] = static_cast<uint8_t>(unit + 10);
    shortTotal[3] = 0;
    Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(unit + 12));
    Bytes shortUnit = good;
    shortUnit[unit] = 19;  // too short to hold the GUID: the walk goes on misaligned, never past the end
    Bytes otherSubtype = good;
    otherSubtype[unit + 2] = 7;

    struct Case {
        const char* name;
        const Bytes* config;
        const Guid* set;
        bool found;
    } cases[] = {
        {"first set", &good, &kFirstPropertySet, true},
        {"other set", &good, &kSecondPropertySet, false},
        {"second set", &other, &kSecondPropertySet, true},
        {"no unit", &none, &kFirstPropertySet, false},
        {"zero length", &zeroLength, &kFirstPropertySet, false},
        {"total length ends before the unit", &shortTotal, &kFirstPropertySet, false},
        {"reply cut inside the unit", &cut, &kFirstPropertySet, false},
        {"unit descriptor too short", &shortUnit, &kFirstPropertySet, false},
        {"another subtype", &otherSubtype, &kFirstPropertySet, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HasExtensionUnit(c.config->data(), static_cast<uint32_t>(c.config->size()), *c.set),
                  c.found)
            << c.name;
    EXPECT_FALSE(HasExtensionUnit(good.data(), 1, kFirstPropertySet));
}

struct Lookup {
    uint16_t vid = 0xAAAA, pid = 0xAAAA;
    uint32_t rev = 0xAAAA;
    char manufacturer[32];
    int result;
    explicit Lookup(uint32_t port, int enable = 1) {
        std::memset(manufacturer, 'z', sizeof manufacturer);
        result = CamUsbLookup(&vid, &pid, &rev, manufacturer, enable, port);
    }
};

TEST(UsbLookup, FindsTheCameraOnItsPortBehindHubs) {
    const std::string benchKeys =
        "controllers=2\nhubs=h1,h2\n[h1]\nkind=hub\ncontroller=1\nport=2\nports=4\n"
        "[h2]\nkind=hub\nparent=h1\nport=3\nports=7\n";
    BenchRig rig(BenchIni({"cam"},
                          {CameraSection("cam", {{"controller", "1"},
                                                 {"hub", "h2"},
                                                 {"port", "5"},
                                                 {"vid", "3A7C"},
                                                 {"pid", "B5A9"},
                                                 {"rev", "0204"}})},
                          benchKeys));
    ASSERT_TRUE(rig.Ok()) << rig.Error();
    CamHolder h = nullptr;
    ASSERT_EQ(CamInit(&h, 'e', 0), 0);
    Lookup found(5);
    EXPECT_EQ(found.result, 0);
    EXPECT_EQ(found.vid, 0x3A7C);
    EXPECT_EQ(found.pid, 0xB5A9);
    EXPECT_EQ(found.rev, 0x0204u);
    EXPECT_STREQ(found.manufacturer, "Korvath");
    Lookup nothing(6);
    EXPECT_EQ(nothing.result, 0);
    EXPECT_EQ(nothing.vid, 0);
    EXPECT_EQ(nothing.pid, 0);
    EXPECT_EQ(nothing.rev, 0u);
    EXPECT_STREQ(nothing.manufacturer, "");
    CamDestroy(&h);
}

TEST(UsbLookup, AUnitOfTheOtherPropertySetIsNoMatch) {
    BenchRig rig(BenchIni(
        {"cam", "other"},
        {CameraSection("cam", {{"port", "3"}}),
         CameraSection("other",
                       {{"port", "4"}, {"xu_guid", "second"}, {"instance", "0badf00d"}, {"pid", "1234"}})}));
    CamHolder h = nullptr;
    ASSERT_EQ(CamInit(&h, 'e', 0), 0);
    ASSERT_EQ(h->pExt->set, kFirstPropertySet);
    Lookup other(4);
    EXPECT_EQ(other.result, 0);
    EXPECT_EQ(other.pid, 0) << "discovery chose the first set";
    Lookup cam(3);
    EXPECT_EQ(cam.pid, 0xB5A4);
    CamDestroy(&h);
}

TEST(UsbLookup, RefusesMissingOutputsAndTheDisabledFlag) {
    BenchRig rig(QuelmarBench({}));
    uint16_t v = 0, p = 0;
    uint32_t r = 0;
    char m[32];
    EXPECT_EQ(CamUsbLookup(nullptr, &p, &r, m, 1, 3), 1);
    EXPECT_EQ(CamUsbLookup(&v, nullptr, &r, m, 1, 3), 1);
    EXPECT_EQ(CamUsbLookup(&v, &p, nullptr, m, 1, 3), 1);
    EXPECT_EQ(CamUsbLookup(&v, &p, &r, nullptr, 1, 3), 1);
    Lookup disabled(3, 0);
    EXPECT_EQ(disabled.result, 1);
    EXPECT_EQ(disabled.vid, 0xAAAA) << "nothing is walked";
}

}  // namespace
