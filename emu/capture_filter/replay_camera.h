// A bench camera that answers from a transcript: a chip=quelmar record with replay=<transcript>
// (a file in the bench folder, or a full path). It turns a recording of a real camera, or of any
// run, into a camera of the bench that behaves exactly as the recorded one did.
//
// Each carrier call the program makes is compared with the transcript's next request: carrier
// (and its node or property), property set, selector, direction, length and the bytes sent. A call
// that matches gets the recorded answer (result, bytes received, returned count). The first call
// that differs, or one asked after the transcript's last request, fails with 0x8007001F (the
// device stalls it), and so does every call after it: a replay that has left its transcript never
// answers again, so a changed program can never pass as a success. The trace and the camera's
// status file (<record>.replay beside bench.ini, shown by `benchtool show`) name the first
// divergence: its sequence number, what was recorded and what was asked. A run that ends before
// the transcript does is reported when the bench closes.
//
// Time advances as recorded: before each answer the bench's virtual clock is moved to the
// request's recorded time after the first request (never back). The camera's chip model still
// receives every request that the recording shows to have succeeded, with its own clock and its
// answers thrown away, so that the flash file holds what the writes made of it and the revision
// the camera enumerates with follows the firmware written, as on the recorded camera.
#pragma once

#include <cstdint>
#include <string>

#include "transcript/transcript.h"
#include "emu/bench.h"
#include "emu/quelmar/clock.h"
#include "kit/trace.h"

namespace emu::capture {

inline constexpr int32_t kReplayDiverged = static_cast<int32_t>(0x8007001F);

class ReplayCamera {
public:
    // Reads the transcript the record's replay key names. False, with the reason, when it cannot.
    bool Load(const Bench& bench, const CameraRecord& camera, quelmar::VirtualClock& clock, std::string& error);
    ~ReplayCamera();

    struct Answer {
        bool matched = false;
        int32_t result = kReplayDiverged;
        const transcript::Request* recorded = nullptr;  // the matching line
    };
    // The answer to the next call.
    Answer Take(const transcript::Request& asked);

    // Where divergences and the end of a run are said (none: only the status file).
    void SetTrace(kit::Trace* trace) { trace_ = trace; }
    // Reports a run that ended early and writes the status file, once, if the replay was used.
    void Finish();

    size_t Taken() const { return next_; }
    bool Diverged() const { return diverged_; }
    const std::string& Divergence() const { return divergence_; }
    const transcript::Transcript& Script() const { return script_; }

    // <folder>/<record>.replay
    static std::string StatusPath(const Bench& bench, const CameraRecord& camera);

private:
    void Report(const std::string& line);
    void WriteStatus();

    transcript::Transcript script_;
    std::string name_;
    std::string file_;
    std::string statusPath_;
    quelmar::VirtualClock* clock_ = nullptr;
    kit::Trace* trace_ = nullptr;
    size_t next_ = 0;
    uint64_t base_ = 0;
    bool diverged_ = false;
    bool finished_ = false;
    std::string divergence_;
};

}  // namespace emu::capture
