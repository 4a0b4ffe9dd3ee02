#include "bench_tool.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "transcript/transcript.h"
#include "emu/bench_devices.h"
#include "emu/power_state.h"
#include "emu/capture_filter/replay_camera.h"
#include "emu/capture_filter/standin_device.h"
#include "emu/usb_topology.h"
#include "emu/image_store.h"
#include "emu/vendor/device_memory.h"
#include "kit/text.h"
#include "templates.h"

namespace benchtool {
namespace {

namespace fs = std::filesystem;

const char* kUsage =
    "usage: benchtool list\n"
    "       benchtool create <template> <folder>\n"
    "       benchtool show <folder>\n"
    "       benchtool replug <folder> <camera>\n"
    "       benchtool replay-check <transcript>\n";

std::string Format(const char* fmt, auto... args) {
    char buf[512];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

int List(std::string& out) {
    for (const Template& t : Templates()) {
        std::string text = t.text;
        size_t at = text.find("description=");
        std::string description = at == std::string::npos ? "" : text.substr(at + 12, text.find('\n', at) - at - 12);
        out += Format("%-16s %s\n", t.name, description.c_str());
    }
    return 0;
}

const Template* FindTemplate(const std::string& name) {
    for (const Template& t : Templates())
        if (name == t.name) return &t;
    return nullptr;
}

// Writes bench.ini (`text`, from template `name`) into `folder` and gives the cameras their
// factory firmware.
int MakeBench(const std::string& name, const std::string& text, const std::string& folder, emu::Bench& bench,
              std::string& err);

int Create(const std::string& name, const std::string& folder, std::string& out, std::string& err) {
    const Template* chosen = FindTemplate(name);
    if (!chosen) {
        err = "benchtool: no template \"" + name + "\"; `benchtool list` shows them\n";
        return 2;
    }
    emu::Bench bench;
    if (int code = MakeBench(name, chosen->text, folder, bench, err)) return code;
    out += "created bench " + folder + " from template " + name + " (" + bench.description + ")\n";
    return 0;
}

int MakeBench(const std::string& name, const std::string& text, const std::string& folder, emu::Bench& bench,
              std::string& err) {
    std::error_code ec;
    if (fs::exists(fs::path(folder) / emu::kBenchFile, ec)) {
        err = "benchtool: " + folder + " already holds a bench; choose an empty folder\n";
        return 2;
    }
    fs::create_directories(folder, ec);
    if (ec) {
        err = "benchtool: cannot create " + folder + ": " + ec.message() + "\n";
        return 1;
    }
    {
        std::ofstream file(fs::path(folder) / emu::kBenchFile, std::ios::binary);
        file << text;
        if (!file) {
            err = "benchtool: cannot write " + (fs::path(folder) / emu::kBenchFile).string() + "\n";
            return 1;
        }
    }
    std::string error;
    if (!emu::LoadBench(folder, bench, error)) {
        err = "benchtool: template " + name + " is broken: " + error + "\n";
        return 1;
    }
    // Cameras start with the firmware they left the factory with.
    for (const emu::CameraRecord& cam : bench.cameras) {
        if (cam.chip == "realtek" || cam.chip == "sonix") {
            emu::vendor::MemoryFile memory;
            if (!emu::vendor::MemoryFileOf(bench, cam, memory, error)) {
                err = "benchtool: " + error + "\n";
                return 1;
            }
            std::vector<uint8_t> image = FactoryImage(cam, 0, memory.size);
            if (!emu::SaveImage(memory.path, image, error)) {
                err = "benchtool: " + error + "\n";
                return 1;
            }
            continue;
        }
        if (cam.chip != "quelmar") continue;
        emu::quelmar::ChipConfig config;
        std::vector<emu::quelmar::Fault> faults;
        if (!emu::ParseChipConfig(cam, config, faults, error)) {
            err = "benchtool: " + error + "\n";
            return 1;
        }
        emu::quelmar::QuelmarChip chip(config);
        std::vector<uint8_t> image = FactoryImage(cam, chip.Family(), chip.Flash().Size());
        std::string path = emu::BenchFilePath(folder, cam.Get("flash_image", cam.name + ".flash"));
        if (!emu::SaveImage(path, image, error)) {
            err = "benchtool: " + error + "\n";
            return 1;
        }
    }
    return 0;
}

std::string Hex(const std::vector<uint8_t>& data, size_t at, size_t n) {
    std::string s;
    for (size_t i = at; i < at + n && i < data.size(); ++i) s += Format("%s%02X", i == at ? "" : " ", data[i]);
    return s;
}

int Show(const std::string& folder, std::string& out, std::string& err) {
    emu::Bench bench;
    std::string error;
    if (!emu::LoadBench(folder, bench, error)) {
        err = "benchtool: " + error + "\n";
        return 1;
    }
    emu::BenchDevices devices;
    if (!devices.Open(bench, error)) {
        err = "benchtool: " + error + "\n";
        return 1;
    }
    out += "bench:       " + folder + "\n";
    out += "description: " + bench.description + "\n";
    out += Format("cameras:     %zu\n", bench.cameras.size());
    for (const emu::CameraRecord& cam : bench.cameras) {
        // The identity the device reports now: its current revision, or its ROM's identity.
        const emu::CameraRecord now = devices.Presented(cam);
        out += "\n[" + cam.name + "] " + cam.friendly + ", chip " + cam.chip + "\n";
        if (!cam.IsUsb()) out += "  virtual capture device (not USB)\n";
        out += Format("  identity:  VID %04X  PID %04X  REV %04X\n", now.vid, now.pid, now.rev);
        out += "  hardware:  " + now.HardwareId() + "\n";
        out += "  path:      " + now.DevicePath() + "\n";
        if (cam.chip == "quelmar") {
            if (devices.OffBus(cam))
                out += "  boot:      off the bus: its power was cut (benchtool replug plugs it back in)\n";
            else if (devices.Boot(cam) == emu::BootMode::Dead)
                out += "  boot:      dead: verified mark over an image that is not whole; it does not enumerate\n";
            else if (devices.Boot(cam) == emu::BootMode::Rom)
                out += "  boot:      ROM mode: the header holds no verified mark\n";
            else
                out += "  boot:      flash firmware\n";
        }
        if (cam.chip == "realtek" || cam.chip == "sonix") {
            emu::PowerFile power;
            emu::ReadPowerFile(emu::PowerFilePath(bench, cam), power, error);
            if (power.state == "cut")
                out += "  boot:      off the bus: its power was cut (benchtool replug plugs it back in)\n";
            else if (power.state == "returned")
                out += "  boot:      plugged back in after a cut: the library finds it, memory as the cut left it\n";
            emu::vendor::MemoryFile memory;
            std::vector<uint8_t> image;
            if (emu::vendor::MemoryFileOf(bench, cam, memory, error) && emu::vendor::LoadMemory(memory, image, error)) {
                size_t programmed = 0;
                for (uint8_t b : image) programmed += b != 0xFF;
                out += Format("  memory:    %s, %zu bytes, %zu not erased, crc32 %08X\n", memory.path.c_str(),
                              image.size(), programmed, Crc32(image));
                out += "  identity block at 0xF000: " + Hex(image, emu::vendor::kIdentityOffset, 6) + "\n";
            } else {
                out += "  memory:    unreadable: " + error + "\n";
            }
        }
        emu::quelmar::QuelmarChip* chip = devices.Quelmar(cam);
        if (!chip) continue;
        if (std::string replay = cam.Get("replay"); !replay.empty()) {
            std::vector<uint8_t> status;
            const bool run = emu::LoadImage(emu::capture::ReplayCamera::StatusPath(bench, cam), status, error);
            std::string text = run ? std::string(status.begin(), status.end()) : "not replayed yet\n";
            out += "  replay:    " + replay + "\n";
            for (const std::string& line : kit::SplitList(text, '\n'))
                if (!line.empty() && line.rfind("transcript=", 0) != 0) out += "             " + line + "\n";
        }
        const std::vector<uint8_t>& image = chip->Flash().Image();
        size_t programmed = 0;
        for (uint8_t b : image) programmed += b != 0xFF;
        out += Format("  chip:      family '%c', id 0x%02X, carrier %s\n", chip->Family(), chip->Config().chipId,
                      devices.Carrier(cam).c_str());
        out += Format("  flash:     code %u (%s), %u bytes, %zu not erased, crc32 %08X, status 0x%02X%s\n",
                      chip->Flash().Part().code, chip->Flash().Part().label, chip->Flash().Size(), programmed,
                      Crc32(image), chip->Flash().NonVolatileStatus(),
                      (chip->Flash().NonVolatileStatus() & 0x0C) ? " (write-protected)" : "");
        uint32_t id = emu::IdentityOffset(chip->Family());
        out += "  header:    " + Hex(image, 0, 4) + "   identity block at " + Format("0x%04X: ", id) +
               Hex(image, id, 6) + "\n";
        if (chip->InPackage()) {
            const std::vector<uint8_t>& ip = chip->InPackage()->Image();
            out += Format("  in-package flash: %zu bytes, crc32 %08X, header %s, identity block %s%s\n", ip.size(),
                          Crc32(ip), Hex(ip, 0, 4).c_str(), Hex(ip, id, 6).c_str(),
                          chip->BootsInPackage() ? " (the firmware starts from it)" : "");
        }
    }
    std::string summary = bench.Get("bench", "summary");
    if (!summary.empty()) {
        std::ifstream in(emu::BenchFilePath(folder, summary));
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        out += "\nlast counters (" + summary + "):\n" + (text.empty() ? std::string("  none yet\n") : text);
    }
    return 0;
}

// The text of a template with its first camera's flash part replaced.
std::string WithFlashPart(std::string text, const std::string& code) {
    const size_t at = text.find("\nflash=");
    if (at == std::string::npos) return text + "flash=" + code + "\n";
    const size_t end = text.find('\n', at + 1);
    return text.replace(at + 1, end - at - 1, "flash=" + code);
}

// An answer, its bytes from `from` on (at most 32 of them).
std::string AnswerText(const transcript::Request& r, size_t from) {
    std::string s = Format("hr=0x%08X ret=%u recv=", static_cast<uint32_t>(r.result), r.returned);
    if (!r.hasReceived || r.received.empty()) return s + "-";
    from = std::min(from, r.received.size() - 1);
    const size_t n = std::min<size_t>(32, r.received.size() - from);
    return s + (from ? Format("[%zu..] ", from) : "") + transcript::Hex(r.received.data() + from, n) +
           (from + n < r.received.size() ? "..." : "");
}

// Where two answers' bytes part, for showing both from there.
size_t FirstDifferentByte(const transcript::Request& a, const transcript::Request& b) {
    size_t i = 0;
    while (i < a.received.size() && i < b.received.size() && a.received[i] == b.received[i]) ++i;
    return i & ~size_t{15};
}

// One recorded request sent to the stand-in as the carrier call it was; the answer as a request.
transcript::Request Ask(emu::capture::StandInDevice& device, const transcript::Request& r) {
    namespace cap = emu::capture;
    transcript::Request answer = r;
    answer.hasReceived = false;
    answer.received.clear();
    answer.returned = 0;
    if (r.carrier == transcript::Carrier::Ks) {
        cap::KspNode node;
        if (r.set == "first")
            node.set = emu::FirstExtensionSet();
        else if (r.set == "second")
            node.set = emu::SecondExtensionSet();
        else
            emu::ParseGuid(r.set, node.set);
        node.id = r.selector;
        node.node = r.address;
        node.flags = cap::kKsTopology | (r.dir == transcript::Direction::Set ? cap::kKsSet : cap::kKsGet);
        const auto property = cap::EncodeKspNode(node);
        std::vector<uint8_t> data = r.dir == transcript::Direction::Set ? r.sent : std::vector<uint8_t>(r.length);
        const bool none = r.dir == transcript::Direction::Length;
        uint32_t returned = 0;
        const int32_t result = device.KsProperty(property.data(), cap::kKspNodeBytes, none ? nullptr : data.data(),
                                                 none ? 0 : r.length, &returned);
        transcript::Answered(answer, result, data.data(), returned);
        return answer;
    }
    std::vector<uint8_t> buffer(4 + cap::kCustomBufferBytes, 0);
    if (r.dir == transcript::Direction::Reply) {
        const int32_t result = device.GetCustomProperty(r.address, buffer.data());
        transcript::Answered(answer, result, buffer.data(), 0);
        return answer;
    }
    buffer[0] = static_cast<uint8_t>(r.length);
    buffer[1] = static_cast<uint8_t>(r.length >> 8);
    buffer[2] = r.dir == transcript::Direction::Set      ? cap::kCustomWrite
                : r.dir == transcript::Direction::Length ? cap::kCustomLength
                                                         : cap::kCustomRead;
    buffer[3] = static_cast<uint8_t>(r.selector);
    std::copy_n(r.sent.begin(), std::min<size_t>(r.sent.size(), cap::kCustomBufferBytes), buffer.begin() + 4);
    transcript::Answered(answer, device.SetCustomProperty(r.address, buffer.data()), nullptr, 0);
    return answer;
}

bool SameAnswer(const transcript::Request& a, const transcript::Request& b) {
    return a.result == b.result && a.returned == b.returned && a.hasReceived == b.hasReceived &&
           (!a.hasReceived || a.received == b.received);
}

int ReplayCheck(const std::string& file, std::string& out, std::string& err) {
    std::vector<uint8_t> bytes;
    std::string error;
    transcript::Transcript script;
    if (!emu::LoadImage(file, bytes, error) ||
        !transcript::ParseTranscript(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                                     script, error)) {
        err = "benchtool: " + file + ": " + error + "\n";
        return 2;
    }
    const std::string family = script.Info("family", "?");
    const std::string name = "quelmar-" + family;
    const Template* chosen = FindTemplate(name);
    if (!chosen) {
        err = "benchtool: " + file + ": no chip model for family \"" + family + "\" (templates quelmar-<family>)\n";
        return 2;
    }
    // The part the library found, where the model knows it (not the in-package flash, 255).
    std::string text = chosen->text;
    const std::string flash = script.Info("flash");
    uint64_t code = 0;
    if (kit::ParseNumber(flash, 0xFF, code) && emu::quelmar::FindFlashPart(static_cast<uint8_t>(code)))
        text = WithFlashPart(text, flash);

    const fs::path folder = fs::temp_directory_path() / ("replay-check-" + std::to_string(Crc32(bytes)) + "-" +
                                                         std::to_string(std::hash<std::string>{}(file)));
    std::error_code ec;
    fs::remove_all(folder, ec);
    int code2 = 0;
    {
        emu::Bench made;
        if (int made2 = MakeBench(name, text, folder.string(), made, err)) return made2;
        emu::capture::SharedBench shared;
        if (!shared.Open(folder.string(), error)) {
            err = "benchtool: " + error + "\n";
            fs::remove_all(folder, ec);
            return 1;
        }
        const emu::CameraRecord& camera = shared.Description().cameras.at(0);
        std::string problem;
        std::unique_ptr<emu::capture::StandInDevice> device;
        emu::quelmar::QuelmarChip* chip = shared.Devices().Quelmar(camera);
        uint32_t restarts = 0;
        size_t note = 0;
        out += "replay-check: " + file + ": " + std::to_string(script.requests.size()) +
               " requests against the chip model of template " + name +
               (flash.empty() ? std::string() : ", flash part " + flash) + "\n";
        for (size_t i = 0; i < script.requests.size() && code2 == 0; ++i) {
            // A camera is bound anew where the recording says so; a restart since the binding leaves
            // the old one talking to a device that has left the bus, as on the bench and on a machine.
            for (; note < script.notes.size() && script.notes[note].afterSeq <= i; ++note) {
                if (script.notes[note].key != "bind") continue;
                device = std::make_unique<emu::capture::StandInDevice>(shared, camera, problem);
                restarts = chip->RestartCount();
            }
            if (!device) device = std::make_unique<emu::capture::StandInDevice>(shared, camera, problem);
            const transcript::Request& recorded = script.requests[i];
            transcript::Request model = recorded;
            if (chip->RestartCount() != restarts) {
                transcript::Answered(model, emu::capture::kDeviceNotConnected, nullptr, 0);
                model.hasReceived = false;
            } else {
                model = Ask(*device, recorded);
            }
            if (!SameAnswer(recorded, model)) {
                out += Format("first difference at request %llu: %s\n", static_cast<unsigned long long>(recorded.seq),
                              transcript::DescribeAsked(recorded).c_str());
                const size_t from = FirstDifferentByte(recorded, model);
                out += "  recorded: " + AnswerText(recorded, from) + "\n";
                out += "  model:    " + AnswerText(model, from) + "\n";
                code2 = 1;
            }
        }
    }
    fs::remove_all(folder, ec);
    if (code2 == 0) out += "every answer of the model is the recorded one\n";
    if (!script.complete) out += "note: the transcript has no end line; the recording was cut short\n";
    return code2;
}

}  // namespace

static int Replug(const std::string& folder, const std::string& camera, std::string& out, std::string& err) {
    emu::Bench bench;
    std::string error;
    if (!emu::LoadBench(folder, bench, error) || !emu::ReplugCamera(bench, camera, error)) {
        err = "benchtool: " + error + "\n";
        return 1;
    }
    emu::BenchDevices devices;
    if (!devices.Open(bench, error)) {
        err = "benchtool: " + error + "\n";
        return 1;
    }
    for (const emu::CameraRecord& cam : bench.cameras)
        if (kit::Lower(cam.name) == kit::Lower(camera))
            out += "[" + cam.name + "] plugged back in: " +
                   (cam.chip == "quelmar" ? emu::BootModeName(devices.Boot(cam)) : "the library finds it again") + "\n";
    return 0;
}

std::vector<uint8_t> FactoryImage(const emu::CameraRecord& camera, char family, uint32_t size) {
    std::vector<uint8_t> image(size);
    uint32_t x = 0x9E3779B9u ^ (static_cast<uint32_t>(camera.vid) << 16 | camera.pid);
    for (uint8_t& b : image) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
    // The header mark a verified download leaves (Quelmar families; 0 for the other chips).
    switch (family) {
        case 0: break;
        case 'i': image[0] = 0x89, image[1] = 0x16; break;
        case 'k': image[0] = 0x89, image[1] = 0x17; break;
        case 'j': case 'l': break;
        default: image[0] = 0x55;
    }
    uint32_t id = family ? emu::IdentityOffset(family) : emu::vendor::kIdentityOffset;
    const uint16_t fields[3] = {camera.vid, camera.pid, camera.rev};
    for (int i = 0; i < 3 && id + 2 * i + 1 < size; ++i) {
        image[id + 2 * i] = static_cast<uint8_t>(fields[i]);
        image[id + 2 * i + 1] = static_cast<uint8_t>(fields[i] >> 8);
    }
    return image;
}

uint32_t Crc32(const std::vector<uint8_t>& data) {
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t b : data) {
        crc ^= b;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

int Main(const std::vector<std::string>& args, std::string& out, std::string& err) {
    if (args.size() == 1 && args[0] == "list") return List(out);
    if (args.size() == 3 && args[0] == "create") return Create(args[1], args[2], out, err);
    if (args.size() == 2 && args[0] == "show") return Show(args[1], out, err);
    if (args.size() == 3 && args[0] == "replug") return Replug(args[1], args[2], out, err);
    if (args.size() == 2 && args[0] == "replay-check") return ReplayCheck(args[1], out, err);
    err = kUsage;
    return 2;
}

}  // namespace benchtool
