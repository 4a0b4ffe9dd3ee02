// Recording of a camera's extension-unit traffic: a decorator around the carriers a capture filter
// hands out (IKsControl and the maker's private interface), whichever adapters are underneath, the
// Win32 ones or a bench's. Each carrier call is passed through unchanged, once, and then written as
// one transcript line (transcript/transcript.h); the decorator never makes a request of its
// own, and a failing file never changes an answer.
//
// Off unless asked for: the environment variable CAMKIT_RECORD names the file for every program
// that uses the library, and a program may name one itself (the write tool's setting.ini). One
// recording per process, shared by every handle. Lines wait in memory until the first camera is
// identified, so that the header can name it and its chip family; after that they go to the file
// as they come. A file that cannot be opened is said once in the trace, and the run goes on
// unrecorded. Safe on any thread: a lock keeps lines whole and in order.
#pragma once

#include <memory>
#include <string>

#include "camlib/ports.h"

namespace camlib {

struct CamHandle;

inline constexpr const char* kRecordEnvVar = "CAMKIT_RECORD";

// Starts recording to `file` (created anew). When a recording is already running it goes on and
// the call returns true. False when the file cannot be created: the trace says so once.
bool StartRecording(Platform& platform, const std::string& file);
// Starts the recording CAMKIT_RECORD asks for, if any (first call only).
void StartRecordingFromEnvironment(Platform& platform);
bool Recording();

// The filter itself when nothing is recorded; else a filter whose carriers record every call.
std::unique_ptr<CaptureFilter> RecordedFilter(Platform& platform, std::unique_ptr<CaptureFilter> filter,
                                              const char* devicePath);
// The handle's camera was identified: its path and chip family go into the header.
void RecordCamera(const CamHandle& handle);
// A fact the library learnt that a replay check needs (the flash part), as a note line.
void RecordNote(const char* key, const std::string& value);
// Writes what is pending (also the header, with family "?", when no camera was identified).
void FlushRecording();
// Writes the closing line and closes the file. Runs by itself at process end.
void StopRecording();

}  // namespace camlib
