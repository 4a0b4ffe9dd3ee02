// The XU_SF_DATA block length and data a camera answers, through the library's sector calls: the
// nine exports' Upload_Sector, Download_Sector and EraseSF, and the linked library's block and
// range reads and writes. The camera is a script taken from the input: every request it is sent
// gets the next answer (success with data, ERROR_MORE_DATA with a length, or a failure), and it
// fails everything once the input is used up.
#include <cstring>

#include "camlib/exports/quelmar_camera.h"
#include "camlib/internals.h"
#include "fuzz_support.h"

namespace {

using namespace camlib;

class Script {
public:
    explicit Script(FuzzedDataProvider& in) : in_(in) {}
    bool Over() const { return in_.remaining_bytes() == 0; }
    uint8_t Byte() { return in_.ConsumeIntegral<uint8_t>(); }
    uint16_t Word() { return in_.ConsumeIntegral<uint16_t>(); }
    void Fill(void* out, uint32_t n) {
        std::memset(out, 0, n);
        const std::vector<uint8_t> bytes = in_.ConsumeBytes<uint8_t>(std::min<uint32_t>(n, 64));
        if (!bytes.empty()) std::memcpy(out, bytes.data(), bytes.size());
    }
    // One of the answers the library recognises, or an unknown failure.
    int32_t Failure() {
        static constexpr int32_t kAnswers[] = {hr::kFail,     hr::kNotReady,  hr::kGenFailure,          hr::kMoreData,
                                               hr::kNotFound, hr::kSetNotFound, hr::kDeviceNotConnected, hr::kTimeout};
        return kAnswers[Byte() % (sizeof kAnswers / sizeof kAnswers[0])];
    }

private:
    FuzzedDataProvider& in_;
};

class Control final : public KsControl {
public:
    explicit Control(Script& s) : s_(s) {}
    int32_t KsProperty(const uint8_t* property, uint32_t, void* data, uint32_t dataLength,
                       uint32_t* returned) override {
        if (s_.Over()) return hr::kDeviceNotConnected;
        // KSP_NODE flags at offset 20: only a GET hands data back (a SET's data is the caller's).
        const bool get = (property[20] | property[21] << 8 | property[22] << 16 | property[23] << 24) ==
                         kKsPropertyTypeGetTopology;
        switch (s_.Byte() % 4) {
            case 0:
            case 1:
                if (get && data && dataLength) s_.Fill(data, dataLength);
                if (returned) *returned = dataLength;
                return hr::kOk;
            case 2:  // a length answer: any 16-bit length the device claims
                if (returned) *returned = s_.Word();
                return hr::kMoreData;
            default:
                return s_.Failure();
        }
    }

private:
    Script& s_;
};

class Topology final : public KsTopology {
public:
    explicit Topology(Script& s) : s_(s) {}
    int32_t NumNodes(uint32_t* count) override {
        *count = s_.Byte() % 5;
        return hr::kOk;
    }
    int32_t NodeType(uint32_t, Guid* type) override {
        *type = s_.Byte() % 4 ? kNodeTypeDevSpecific : Guid{};
        return hr::kOk;
    }

private:
    Script& s_;
};

class Private final : public CustomProp {
public:
    explicit Private(Script& s) : s_(s) {}
    int32_t GetProperty(uint32_t, uint8_t* buffer) override {
        if (s_.Over()) return hr::kDeviceNotConnected;
        if (s_.Byte() % 4 == 3) return s_.Failure();
        s_.Fill(buffer, kPrivateReplyBytes);
        return hr::kOk;
    }
    int32_t SetProperty(uint32_t, uint8_t*) override {
        if (s_.Over()) return hr::kDeviceNotConnected;
        return s_.Byte() % 4 == 3 ? s_.Failure() : hr::kOk;
    }

private:
    Script& s_;
};

class Filter final : public CaptureFilter {
public:
    explicit Filter(Script& s) : s_(s), carriers_(s.Byte()) {}
    int32_t QueryKsControl(std::unique_ptr<KsControl>& out) override {
        if (!(carriers_ & 1)) return hr::kNoInterface;
        out = std::make_unique<Control>(s_);
        return hr::kOk;
    }
    int32_t QueryTopology(std::unique_ptr<KsTopology>& out) override {
        if (!(carriers_ & 2)) return hr::kNoInterface;
        out = std::make_unique<Topology>(s_);
        return hr::kOk;
    }
    int32_t QueryCustomProp(std::unique_ptr<CustomProp>& out) override {
        if (!(carriers_ & 4)) return hr::kNoInterface;
        out = std::make_unique<Private>(s_);
        return hr::kOk;
    }

private:
    Script& s_;
    uint8_t carriers_;
};

class Device final : public VideoDevice {
public:
    explicit Device(Script& s) : s_(s) {}
    int32_t ReadDevicePath(std::string& path) override {
        path = "\\\\?\\usb#vid_3b1d&pid_b5a4&mi_00#6&1a2b3c4d&0&0000#{x}\\global";
        return hr::kOk;
    }
    int32_t BindFilter(std::unique_ptr<CaptureFilter>& out) override {
        out = std::make_unique<Filter>(s_);
        return hr::kOk;
    }

private:
    Script& s_;
};

class Devices final : public VideoDeviceList {
public:
    explicit Devices(Script& s) : s_(s) {}
    int32_t Next(std::unique_ptr<VideoDevice>& out) override {
        if (given_++ == 2 || s_.Over()) return hr::kFalse;
        out = std::make_unique<Device>(s_);
        return hr::kOk;
    }

private:
    Script& s_;
    int given_ = 0;
};

class Video final : public VideoDevicePort {
public:
    Script* script = nullptr;
    int32_t Open(std::unique_ptr<VideoDeviceList>& out) override {
        out = std::make_unique<Devices>(*script);
        return hr::kOk;
    }
};

class NoSleep final : public SleepPort {
public:
    void Sleep(uint32_t) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Video video;
    static NoSleep sleep;
    static fuzz::NullTrace trace;
    static kit::PortableProfile profile;
    static Platform platform = [] {
        Platform p;
        p.video = &video;
        p.sleep = &sleep;
        p.trace = &trace;
        p.profile = &profile;
        return p;
    }();
    FuzzedDataProvider in(data, size);
    Script script(in);
    video.script = &script;
    UsePlatform(&platform);

    std::vector<uint8_t> image(kAddressableBytes, 0x5A);
    std::vector<uint8_t> block(kSectorBytes);
    if (QuelmarCam_Init(0) == kResultOk) {
        for (int step = 0; step < 6 && !script.Over(); ++step) {
            const unsigned char table = script.Byte() % 8;
            const unsigned sector = script.Byte() % 17;
            switch (script.Byte() % 4) {
                case 0:
                    Upload_Sector(image.data(), sector, table);
                    break;
                case 1:
                    Download_Sector(image.data(), table, sector, script.Byte() % 2);
                    break;
                case 2:
                    EraseSF(table);
                    break;
                default:
                    ResetCamera();
                    break;
            }
        }
    }
    QuelmarCam_UnInit();

    CamHolder holder = nullptr;
    if (CamInit(&holder, 'e', 0) == kResultOk) {
        const uint32_t code = script.Byte();
        CamReadBlock(holder, block.data(), script.Byte() % 17, code);
        const uint32_t start = script.Word(), end = start + script.Word() % 0x2000;
        CamReadRange(holder, image.data(), code, start, end);
        CamWriteRange(holder, image.data(), code, start & ~(kSectorBytes - 1), end);
    }
    CamDestroy(&holder);
    UsePlatform(nullptr);
    return 0;
}
