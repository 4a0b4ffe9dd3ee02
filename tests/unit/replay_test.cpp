// Recording a camera's extension-unit traffic and replaying it as a bench camera: the transcript
// format, the recorder (no request of its own, the header, a file that cannot be made), the
// replaying camera (same outcome and flash, divergence, early end, edited answers, reordered
// requests, time) and benchtool's conformance check, on the families the programs update.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "bench_tool.h"
#include "camlib/exports/quelmar_camera.h"
#include "camlib/internals.h"
#include "camlib/recorder.h"
#include "camlib/testing/bench_rig.h"
#include "transcript/transcript.h"

namespace {

using namespace camlib;
using camlib::testing::BenchRig;
using camlib::testing::Keys;
using camlib::testing::QuelmarBench;
using camlib::testing::Traffic;
using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;
namespace ts = transcript;

Bytes Pattern(size_t n, uint32_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>((i * 37 + seed * 5 + (i >> 9)) ^ seed);
    return b;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

ts::Transcript Parse(const std::string& text) {
    ts::Transcript t;
    std::string error;
    EXPECT_TRUE(ts::ParseTranscript(text, t, error)) << error;
    return t;
}

// ---------------------------------------------------------------------------------------------
// The format

TEST(TranscriptFormat, RequestLinesReadBackAsWritten) {
    ts::Request ks;
    ks.seq = 7;
    ks.address = 2;
    ks.set = "first";
    ks.selector = 3;
    ks.reg = 0x20FF;
    ks.dir = ts::Direction::Get;
    ks.length = 1;
    ks.hasReceived = true;
    ks.received = {0xB5};
    ks.returned = 1;
    ks.timeUs = 123456;
    ts::Request write;
    write.seq = 8;
    write.carrier = ts::Carrier::Private;
    write.address = 35;
    write.selector = 22;
    write.dir = ts::Direction::Set;
    write.length = 3;
    write.sent = {0x00, 0xAB, 0xFF};
    write.result = static_cast<int32_t>(0x8007001F);
    ts::Request length = ks;
    length.dir = ts::Direction::Length;
    length.length = 0;
    length.hasReceived = false;
    length.received.clear();
    length.reg = -1;
    length.returned = 4096;
    length.result = static_cast<int32_t>(0x800700EA);
    EXPECT_EQ(ts::FormatRequest(ks),
              "7 ks:2 set=first sel=0x03 reg=0x20FF dir=get len=1 sent=- recv=B5 ret=1 hr=0x00000000 t=123456");
    EXPECT_EQ(ts::FormatRequest(write),
              "8 private:35 set=- sel=0x16 reg=- dir=set len=3 sent=00ABFF recv=- ret=0 hr=0x8007001F t=0");
    for (const ts::Request& r : {ks, write, length}) {
        ts::Request back;
        std::string error;
        ASSERT_TRUE(ts::ParseRequest(ts::FormatRequest(r), back, error)) << error;
        EXPECT_EQ(ts::FormatRequest(back), ts::FormatRequest(r));
        EXPECT_TRUE(ts::SameAsked(back, r));
    }
}

// The transcript knows the carriers' wire values itself (the bench reads transcripts without the
// library): every request the library encodes must read as what the library meant.
TEST(TranscriptFormat, ReadsTheLibrarysRequestsAsTheLibraryMeantThem) {
    for (const auto& [set, name] : {std::pair{kFirstPropertySet, "first"}, std::pair{kSecondPropertySet, "second"}}) {
        std::array<uint8_t, kKsNodeBytes> node{};
        EncodeKsNode(node, set, XU_REG_DATA, kKsPropertyTypeSetTopology, 2);
        const uint8_t data = 0xB5;
        const ts::Request r = ts::AskedKs(node.data(), kKsNodeBytes, &data, 1);
        EXPECT_EQ(r.set, name);
        EXPECT_EQ(r.dir, ts::Direction::Set);
        EXPECT_EQ(r.sent, Bytes{0xB5});
    }
    const Bytes data = Pattern(kMaxControlBytes + 100, 3);
    struct Case {
        uint8_t code;
        uint32_t n;
        ts::Direction dir;
        size_t sent;         // bytes the transcript keeps of a write
        uint32_t replyBytes;  // what the reply to it may hold
    } cases[] = {
        {kPrivateWrite, 8, ts::Direction::Set, 8, 0},
        {kPrivateWrite, kMaxControlBytes + 100, ts::Direction::Set, kMaxControlBytes, 0},
        {kPrivateRead, 8, ts::Direction::Get, 0, 8},
        {kPrivateRead, kMaxControlBytes + 100, ts::Direction::Get, 0, kPrivateReplyBytes},
        {kPrivateLength, 0, ts::Direction::Length, 0, 2},
    };
    for (const Case& c : cases) {
        Bytes record = EncodePrivateRequest(c.code, XU_SF_DATA, data.data(), c.n);
        record.resize(std::max<size_t>(record.size(), kPrivateRequestBytes), 0);
        const ts::Request r = ts::AskedPrivate(kPrivateProperty, record.data());
        EXPECT_EQ(r.dir, c.dir) << int{c.code} << " " << c.n;
        EXPECT_EQ(r.selector, XU_SF_DATA);
        EXPECT_EQ(r.sent.size(), c.sent) << int{c.code} << " " << c.n;
        EXPECT_EQ(ts::AskedReply(kPrivateProperty, r).length, c.replyBytes) << int{c.code} << " " << c.n;
    }
}

TEST(TranscriptFormat, BrokenTranscriptsAreRefusedWithTheLine) {
    const std::string head = std::string(ts::kMagic) + "\n# family: k\n";
    const std::string one = "1 ks:2 set=first sel=0x0B reg=- dir=get len=1 sent=- recv=00 ret=1 hr=0x00000000 t=0\n";
    const std::string two = "2 ks:2 set=first sel=0x0B reg=- dir=get len=1 sent=- recv=00 ret=1 hr=0x00000000 t=9\n";
    struct Case {
        std::string text;
        std::string error;  // empty: accepted
    } cases[] = {
        {head + one + two + "# end: 2 requests\n", ""},
        {head + one + two, ""},  // cut short: readable, not complete
        {"", "empty file"},
        {"# some other file\n" + one, "line 1: not a transcript"},
        {head + two, "line 3: sequence number 2 where 1 was due"},
        {head + one + one, "line 4: sequence number 1 where 2 was due"},
        {head + one + "# end: 2 requests\n", "line 4: the end line says \"2 requests\""},
        {head + one + "# end: 1 requests\n" + two, "line 5: text after the end line"},
        {head + "1 ks:2 set=first sel=0x0B\n", "line 3: a request line has 12 fields, this one 4"},
        {head + "1 usb:2 set=first sel=0x0B reg=- dir=get len=1 sent=- recv=00 ret=1 hr=0x0 t=0\n", "carrier"},
        {head + "1 ks:2 set=first sel=0x0B reg=- dir=get len=1 sent=- recv=0G ret=1 hr=0x0 t=0\n", "recv=<hex>"},
        {head + "1 ks:2 set=first sel=0x0B reg=- dir=put len=1 sent=- recv=00 ret=1 hr=0x0 t=0\n", "direction"},
        {head + "1 ks:2 set=first sel=0x0B reg=- dir=get len=1 sent=ABC recv=00 ret=1 hr=0x0 t=0\n", "sent="},
    };
    for (const Case& c : cases) {
        ts::Transcript t;
        std::string error;
        const bool ok = ts::ParseTranscript(c.text, t, error);
        EXPECT_EQ(ok, c.error.empty()) << c.text << error;
        if (!c.error.empty()) {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        }
    }
    ts::Transcript t = Parse(head + one + two + "# flash: 127\n# end: 2 requests\n");
    EXPECT_TRUE(t.complete);
    EXPECT_EQ(t.Info("family"), "k");
    EXPECT_EQ(t.Info("flash"), "127");
    EXPECT_EQ(t.notes.back().afterSeq, 2u);
}

// ---------------------------------------------------------------------------------------------
// Recording and replaying on benches

// A run of one program's route: the updater's sequence over the exports, or the write tool's
// download job.
enum class Route { Updater, Download };

struct Outcome {
    int result = -1;
    Bytes back;
    uint8_t code = 0;
    Bytes flash;
    uint64_t timeUs = 0;
    std::string wire;
    std::vector<std::string> trace;
};

Outcome RunRoute(BenchRig& rig, Route route, const Bytes& image) {
    Outcome o;
    std::vector<emu::quelmar::WireRequest> wire;
    rig.Chip().RecordWire(&wire);
    if (route == Route::Updater) {
        o.result = camlib::testing::Flash(image, o.back, o.code);
        // The updater's verification.
        if (o.result == 0 && o.back != image) o.result = 8;
        QuelmarCam_UnInit();
    } else {
        CamHolder h = nullptr;
        o.result = CamInit(&h, 'e', 0);
        if (o.result == 0) o.result = CamProbeFlashType(h, &o.code);
        Bytes copy = image;
        uint8_t sum = 0, device = 0, status = 0, progress = 0;
        if (o.result == 0)
            o.result = CamDownload(h, DownloadJob{copy.data(), static_cast<uint32_t>(copy.size()), o.code, &sum,
                                                  &device, &status, &progress});
        CamDestroy(&h);
    }
    rig.Chip().RecordWire(nullptr);
    o.flash = rig.Chip().Flash().Image();
    o.timeUs = rig.Clock().NowUs();
    o.wire = Traffic(wire);
    o.trace = rig.trace.lines;
    return o;
}

struct Recorded {
    Outcome outcome;
    std::string text;
};

fs::path TempFile(const std::string& name) {
    return fs::temp_directory_path() / ("replay-test-" + std::to_string(getpid()) + "-" + name);
}

Recorded Record(const Keys& keys, Route route, const Bytes& image) {
    BenchRig rig(QuelmarBench(keys));
    EXPECT_TRUE(rig.Ok()) << rig.Error();
    const fs::path file = TempFile("record.txt");
    EXPECT_TRUE(StartRecording(rig.Ports(), file.string()));
    Recorded r;
    r.outcome = RunRoute(rig, route, image);
    StopRecording();
    r.text = ReadFile(file);
    fs::remove(file);
    return r;
}

// A rig whose camera answers from `text`.
struct Replay {
    fs::path file = TempFile("replay.txt");
    std::unique_ptr<BenchRig> rig;
    Outcome outcome;
    std::string status;

    Replay(Keys keys, const std::string& text) {
        WriteFile(file, text);
        keys.push_back({"replay", file.string()});
        rig = std::make_unique<BenchRig>(QuelmarBench(keys));
        EXPECT_TRUE(rig->Ok()) << rig->Error();
    }
    Replay(const Keys& keys, const std::string& text, Route route, const Bytes& image) : Replay(keys, text) {
        if (!rig->Ok()) return;
        outcome = RunRoute(*rig, route, image);
        Finish();
    }
    void Finish() {
        const emu::CameraRecord& cam = rig->Bench().cameras.at(0);
        rig->shared.Replay(cam)->Finish();
        status = ReadFile(emu::capture::ReplayCamera::StatusPath(rig->Bench(), cam));
    }
    bool Traced(const std::string& part) const {
        for (const std::string& line : rig->trace.lines)
            if (line.find(part) != std::string::npos) return true;
        return false;
    }
    ~Replay() { fs::remove(file); }
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string Join(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) out += line + "\n";
    return out;
}

// Changes request `seq` (1-based) with `edit`.
std::string Edit(const std::string& text, uint64_t seq, const std::function<void(ts::Request&)>& edit) {
    std::vector<std::string> lines = Lines(text);
    for (std::string& line : lines) {
        ts::Request r;
        std::string error;
        if (!line.empty() && line[0] != '#' && ts::ParseRequest(line, r, error) && r.seq == seq) {
            edit(r);
            line = ts::FormatRequest(r);
        }
    }
    return Join(lines);
}

// Requests `seq` and `seq` + 1 change places (each keeps its number and time).
std::string Swap(const std::string& text, uint64_t seq) {
    std::vector<std::string> lines = Lines(text);
    std::vector<size_t> at;
    std::vector<ts::Request> r;
    for (size_t i = 0; i < lines.size(); ++i) {
        ts::Request q;
        std::string error;
        if (!lines[i].empty() && lines[i][0] != '#' && ts::ParseRequest(lines[i], q, error) &&
            (q.seq == seq || q.seq == seq + 1)) {
            at.push_back(i);
            r.push_back(q);
        }
    }
    EXPECT_EQ(r.size(), 2u);
    std::swap(r[0].seq, r[1].seq);
    std::swap(r[0].timeUs, r[1].timeUs);
    lines[at[0]] = ts::FormatRequest(r[1]);
    lines[at[1]] = ts::FormatRequest(r[0]);
    return Join(lines);
}

// The first (or last) request matching `pick`, 0 when none.
uint64_t Find(const std::string& text, const std::function<bool(const ts::Request&)>& pick, bool last = false) {
    uint64_t found = 0;
    for (const ts::Request& r : Parse(text).requests) {
        if (!pick(r)) continue;
        found = r.seq;
        if (!last) break;
    }
    return found;
}

struct FamilyCase {
    Keys keys;
    Route route;
};

const FamilyCase kFamilies[] = {
    {{{"family", "f"}, {"flash", "121"}}, Route::Updater},
    {{{"family", "i"}, {"flash", "124"}, {"carrier", "private"}}, Route::Updater},
    {{{"family", "j"}, {"flash", "137"}}, Route::Updater},
    {{{"family", "k"}, {"flash", "127"}, {"carrier", "both"}}, Route::Updater},
    {{{"family", "l"}, {"flash", "137"}}, Route::Updater},
    {{{"family", "f"}, {"flash", "121"}, {"carrier", "private"}}, Route::Download},
    {{{"family", "i"}, {"flash", "124"}}, Route::Download},
    {{{"family", "j"}, {"flash", "137"}, {"carrier", "both"}}, Route::Download},
    {{{"family", "k"}, {"flash", "127"}, {"chunk", "2048"}}, Route::Download},
    {{{"family", "l"}, {"flash", "137"}}, Route::Download},
};

std::string Name(const FamilyCase& c) {
    std::string s = c.route == Route::Updater ? "updater" : "download";
    for (const auto& [k, v] : c.keys) s += " " + k + "=" + v;
    return s;
}

TEST(Recording, AddsNoRequestAndChangesNoAnswer) {
    for (const FamilyCase& c : kFamilies) {
        const Bytes image = Pattern(65536, 3);
        Outcome plain;
        {
            BenchRig rig(QuelmarBench(c.keys));
            ASSERT_TRUE(rig.Ok()) << rig.Error();
            plain = RunRoute(rig, c.route, image);
        }
        const Recorded rec = Record(c.keys, c.route, image);
        EXPECT_EQ(plain.result, 0) << Name(c);
        EXPECT_EQ(rec.outcome.result, plain.result) << Name(c);
        // The chip saw the very same requests, in the same order, and the clock the same time.
        EXPECT_EQ(rec.outcome.wire, plain.wire) << Name(c);
        EXPECT_EQ(rec.outcome.timeUs, plain.timeUs) << Name(c);
        EXPECT_EQ(rec.outcome.flash, plain.flash) << Name(c);
        EXPECT_EQ(rec.outcome.back, plain.back) << Name(c);

        // One line per carrier call: every chip request is one kernel-streaming call, or on the
        // private carrier a write one call and a read or length query two.
        const ts::Transcript t = Parse(rec.text);
        EXPECT_TRUE(t.complete) << Name(c);
        std::string carrier = "ks";
        for (const auto& [k, v] : c.keys)
            if (k == "carrier") carrier = v;
        size_t replies = 0;
        for (const ts::Request& r : t.requests) replies += r.dir == ts::Direction::Reply;
        EXPECT_GT(t.requests.size(), 20u) << Name(c);
        EXPECT_EQ(replies > 0, carrier == "private") << Name(c);
        EXPECT_EQ(t.Info("family"), c.keys[0].second) << Name(c);
        EXPECT_EQ(t.Info("identity"), "vid=3A7C pid=B5A4") << Name(c);
        EXPECT_NE(t.Info("camera").find("vid_3a7c&pid_b5a4"), std::string::npos) << Name(c);
        EXPECT_EQ(t.Info("flash"), c.keys[1].second) << Name(c);
    }
}

TEST(Recording, AFileThatCannotBeMadeIsSaidOnceAndTheRunGoesOn) {
    BenchRig rig(QuelmarBench({{"family", "k"}, {"flash", "127"}}));
    ASSERT_TRUE(rig.Ok()) << rig.Error();
    const std::string bad = (rig.Folder() / "no-such-folder" / "rec.txt").string();
    EXPECT_FALSE(StartRecording(rig.Ports(), bad));
    EXPECT_FALSE(StartRecording(rig.Ports(), bad));
    EXPECT_FALSE(Recording());
    Bytes back;
    uint8_t code = 0;
    EXPECT_EQ(camlib::testing::Flash(Pattern(65536, 1), back, code), 0);
    QuelmarCam_UnInit();
    size_t said = 0;
    for (const std::string& line : rig.trace.lines)
        said += line.find("recording: cannot create " + bad) == 0 && line.find("unrecorded") != std::string::npos;
    EXPECT_EQ(said, 1u);
}

TEST(Replay, EveryFamilyAndRouteReplaysToTheSameOutcome) {
    for (const FamilyCase& c : kFamilies) {
        const Bytes image = Pattern(65536, 7);
        const Recorded rec = Record(c.keys, c.route, image);
        Replay replay(c.keys, rec.text, c.route, image);
        EXPECT_EQ(replay.outcome.result, rec.outcome.result) << Name(c);
        EXPECT_EQ(replay.outcome.code, rec.outcome.code) << Name(c);
        EXPECT_EQ(replay.outcome.back, rec.outcome.back) << Name(c);
        // The model follows the recorded writes: the flash ends as the recorded camera's did.
        EXPECT_EQ(replay.outcome.flash, rec.outcome.flash) << Name(c);
        EXPECT_EQ(replay.status, "transcript=" + replay.file.string() + "\nreplayed=" +
                                     std::to_string(Parse(rec.text).requests.size()) + " of " +
                                     std::to_string(Parse(rec.text).requests.size()) + "\nresult=complete\n")
            << Name(c);
        // Time advances as recorded: the replay's clock reaches the last request's recorded time
        // and no further than the recorded run's end.
        const uint64_t last = Parse(rec.text).requests.back().timeUs;
        EXPECT_GE(replay.outcome.timeUs, last) << Name(c);
        EXPECT_LE(replay.outcome.timeUs, rec.outcome.timeUs) << Name(c);
    }
}

TEST(Replay, AnEditedAnswerFailsTheRunNeverPassesIt) {
    const Keys keys = {{"family", "k"}, {"flash", "127"}};
    const Bytes image = Pattern(65536, 9);
    const Recorded rec = Record(keys, Route::Updater, image);
    ASSERT_EQ(rec.outcome.result, 0);
    struct Case {
        const char* what;
        std::function<bool(const ts::Request&)> pick;
        bool last;
        uint8_t flip;
        int failedStep;  // the updater step that must fail
    } cases[] = {
        // The last flash read: the updater's verification sees the changed byte.
        {"read-back", [](const ts::Request& r) { return r.dir == ts::Direction::Get && r.length >= 64; }, true, 0x10, 8},
        // The chip identification of an unsupported chip: no camera to update.
        {"chip id", [](const ts::Request& r) { return r.reg == reg::kChipId && r.dir == ts::Direction::Get; }, false,
         0x80, 1},
    };
    for (const Case& c : cases) {
        const uint64_t seq = Find(rec.text, c.pick, c.last);
        ASSERT_NE(seq, 0u) << c.what;
        const std::string edited = Edit(rec.text, seq, [&c](ts::Request& r) { r.received[0] ^= c.flip; });
        Replay replay(keys, edited, Route::Updater, image);
        EXPECT_EQ(replay.outcome.result, c.failedStep) << c.what;
    }
}

TEST(Replay, AReorderedRequestIsReportedAtThatRequest) {
    const Keys keys = {{"family", "i"}, {"flash", "124"}};
    const Bytes image = Pattern(65536, 11);
    const Recorded rec = Record(keys, Route::Download, image);
    ASSERT_EQ(rec.outcome.result, 0);
    // The replay's program asks requests k and k+1 the other way round from the recorded one: as
    // if the transcript had them swapped.
    const ts::Transcript t = Parse(rec.text);
    const uint64_t k = Find(rec.text, [](const ts::Request& r) {
        return r.selector == XU_DFU_ENABLE_CONTROL && r.dir == ts::Direction::Set;
    });
    ASSERT_GT(k, 1u);
    const ts::Request a = t.requests[k - 1], b = t.requests[k];
    ASSERT_FALSE(ts::SameAsked(a, b));
    const std::string swapped = Swap(rec.text, k);
    Replay replay(keys, swapped, Route::Download, image);
    EXPECT_NE(replay.outcome.result, 0);
    const std::string expected =
        "request " + std::to_string(k) + " differs: recorded " + ts::DescribeAsked(b) + "; asked " + ts::DescribeAsked(a);
    EXPECT_TRUE(replay.Traced("replay: cam0: " + expected + "; it and every later request fail with 0x8007001F"))
        << expected;
    EXPECT_NE(replay.status.find("result=diverged: " + expected), std::string::npos) << replay.status;
    EXPECT_NE(replay.status.find("replayed=" + std::to_string(k - 1) + " of"), std::string::npos) << replay.status;
}

TEST(Replay, ARunThatEndsEarlyOrGoesPastTheEndIsReported) {
    const Keys keys = {{"family", "j"}, {"flash", "137"}};
    const Bytes image = Pattern(65536, 13);
    const Recorded rec = Record(keys, Route::Download, image);
    const size_t total = Parse(rec.text).requests.size();
    {
        // Only the identification of the recorded run.
        Replay replay(keys, rec.text);
        ASSERT_TRUE(replay.rig->Ok());
        CamHolder h = nullptr;
        EXPECT_EQ(CamInit(&h, 'e', 0), 0);
        CamDestroy(&h);
        replay.Finish();
        EXPECT_TRUE(replay.Traced("the run ended after request "));
        EXPECT_NE(replay.status.find("result=ended early: the run ended after request "), std::string::npos)
            << replay.status;
        EXPECT_NE(replay.status.find(" of " + std::to_string(total) + "\n"), std::string::npos) << replay.status;
    }
    {
        // A transcript cut in the middle of the download: the requests after it are refused.
        std::string cut;
        std::istringstream in(rec.text);
        std::string line;
        size_t requests = 0;
        while (std::getline(in, line) && requests < total / 2) {
            requests += !line.empty() && line[0] != '#';
            cut += line + "\n";
        }
        Replay replay(keys, cut, Route::Download, image);
        EXPECT_NE(replay.outcome.result, 0);
        EXPECT_TRUE(replay.Traced("request " + std::to_string(total / 2 + 1) +
                                  " asked after the transcript's last request"));
        EXPECT_NE(replay.status.find("result=diverged"), std::string::npos);
    }
}

// ---------------------------------------------------------------------------------------------
// The conformance check

TEST(ReplayCheck, TheModelAnswersItsOwnRecordingAndNamesAnEditedAnswer) {
    for (const char* family : {"f", "k"}) {
        // A camera of the family's template, as benchtool creates it.
        const fs::path folder = TempFile(std::string("bench-") + family);
        fs::remove_all(folder);
        std::string out, err;
        ASSERT_EQ(benchtool::Main({"create", std::string("quelmar-") + family, folder.string()}, out, err), 0) << err;
        std::string text;
        {
            emu::capture::SharedBench check;
            kit::RecordingTrace trace;
            kit::PortableProfile profile;
            std::string error;
            ASSERT_TRUE(check.Open(folder.string(), error)) << error;
            EmulatedPlatform platform(check, trace, profile, "setting.ini");
            UsePlatform(&platform.Get());
            const fs::path file = TempFile("check.txt");
            ASSERT_TRUE(StartRecording(platform.Get(), file.string()));
            Bytes back;
            uint8_t code = 0;
            EXPECT_EQ(camlib::testing::Flash(Pattern(65536, 2), back, code), 0) << family;
            QuelmarCam_UnInit();
            StopRecording();
            UsePlatform(nullptr);
            text = ReadFile(file);
            fs::remove(file);
        }
        fs::remove_all(folder);
        const fs::path file = TempFile(std::string("check-") + family + ".txt");
        WriteFile(file, text);
        out.clear();
        EXPECT_EQ(benchtool::Main({"replay-check", file.string()}, out, err), 0) << out << err;
        EXPECT_NE(out.find("every answer of the model is the recorded one"), std::string::npos) << out;

        const uint64_t seq = Find(text, [](const ts::Request& r) { return r.dir != ts::Direction::Set && r.hasReceived &&
                                                                          r.seq > 40; });
        ASSERT_NE(seq, 0u);
        WriteFile(file, Edit(text, seq, [](ts::Request& r) { r.received[0] ^= 0x01; }));
        out.clear();
        EXPECT_EQ(benchtool::Main({"replay-check", file.string()}, out, err), 1) << out << err;
        EXPECT_NE(out.find("first difference at request " + std::to_string(seq) + ": "), std::string::npos) << out;
        fs::remove(file);
    }
}

}  // namespace
