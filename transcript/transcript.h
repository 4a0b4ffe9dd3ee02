// Transcripts of extension-unit traffic: what crossed a camera's carrier, one line per carrier
// call, in a text a technician can read, edit and send in. The recorder in camlib writes them; the
// bench's replaying camera and `benchtool replay-check` read them. The format is described in
// docs/recording.md; this module is its one reader and writer.
//
// Plain portable code: no device, no file system, no clock. Nothing throws. It depends on nothing of
// the kit, so that the library and the bench below it can both use it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace transcript {

inline constexpr const char* kMagic = "# camkit transcript 1";
inline constexpr const char* kFieldsLine = "# fields: seq carrier set sel reg dir len sent recv ret hr t";

enum class Carrier : uint8_t { Ks, Private };
// set: a write; get: a read; len: a length query; reply: fetching the private carrier's reply to
// the get or len request before it.
enum class Direction : uint8_t { Set, Get, Length, Reply };

struct Request {
    uint64_t seq = 0;                // from 1, in the order the requests were made
    Carrier carrier = Carrier::Ks;
    uint32_t address = 0;            // ks: the topology node; private: the property id
    std::string set = "-";           // ks: "first", "second" or the set's GUID; private: "-"
    uint32_t selector = 0;
    int32_t reg = -1;                // the chip register a data request reaches, -1 none (for readers)
    Direction dir = Direction::Get;
    uint32_t length = 0;
    std::vector<uint8_t> sent;       // a write's data
    bool hasReceived = false;        // false: "-" (nothing came back, or the request failed)
    std::vector<uint8_t> received;
    uint32_t returned = 0;           // ks: the returned byte count (a length query's answer)
    int32_t result = 0;              // HRESULT
    uint64_t timeUs = 0;             // since the first request of the recording
};

// One request line, without its line end.
std::string FormatRequest(const Request& r);
// Reads a line written by FormatRequest (blanks between fields may be runs of blanks or tabs).
bool ParseRequest(std::string_view line, Request& out, std::string& error);

// The request a carrier call makes, before its answer: IKsControl::KsProperty with its KSP_NODE,
// the private carrier's SetProperty with its request record, and its GetProperty, which fetches
// the reply to `request` (the last get or len request on that carrier). Null pointers give what
// can be told without them.
Request AskedKs(const uint8_t* property, uint32_t propertyLength, const uint8_t* data, uint32_t dataLength);
Request AskedPrivate(uint32_t id, const uint8_t* buffer);
Request AskedReply(uint32_t id, const Request& request);
// The same into a request kept for the purpose, whose buffers are reused (the recorder's path: no
// allocation per request once they have grown).
void AskedKs(Request& r, const uint8_t* property, uint32_t propertyLength, const uint8_t* data, uint32_t dataLength);
void AskedPrivate(Request& r, uint32_t id, const uint8_t* buffer);
// Fills a request made with AskedKs, AskedPrivate or AskedReply with the carrier's answer.
void Answered(Request& r, int32_t result, const uint8_t* data, uint32_t returned);

// What the program asked, without the answer: the fields a replay compares.
std::string DescribeAsked(const Request& r);
bool SameAsked(const Request& a, const Request& b);

// "# key: value" lines: the header before the first request, notes after it (a camera bound, the
// flash part the library found), and the closing "# end: N requests".
struct Note {
    uint64_t afterSeq = 0;  // the number of requests before the note
    std::string key;
    std::string value;
};

struct Transcript {
    std::map<std::string, std::string> header;  // program, camera, identity, family, ...
    std::vector<Note> notes;                    // every "# key: value" line, header included
    std::vector<Request> requests;
    bool complete = false;  // the closing line was there: the recording was not cut short

    // The header's value, else the first note's, else `fallback`.
    std::string Info(const std::string& key, const std::string& fallback = "") const;
};

// Reads a whole transcript. Sequence numbers must count from 1 without gaps, so that an edit that
// drops or duplicates a line is caught here rather than during a replay. On failure `error` names
// the line.
bool ParseTranscript(std::string_view text, Transcript& out, std::string& error);

std::string FormatNote(const std::string& key, const std::string& value);
std::string FormatEnd(uint64_t requests);

// Upper-case hexadecimal without separators; "-" for nothing.
std::string Hex(const uint8_t* data, size_t n);
bool ParseHex(std::string_view text, std::vector<uint8_t>& out);

// Appends the line of `r` to `out` without building intermediate strings (the recorder's path).
void AppendRequest(std::string& out, const Request& r);

}  // namespace transcript
