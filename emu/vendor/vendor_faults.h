// Scripted misbehaviour of the emulated vendor libraries, one fault per bench.ini key:
//
//   [bench]
//   rvclib_fault1=EEPROMWrite3:1:-5             ; the first EEPROMWrite3 returns -5, does nothing
//   rvclib_fault2=UVC_GetDevVIDPIDRev:*:corrupt:0x01:4
//   burnerap_fault1=ReqToDriver.write:3:0       ; the third flash write answers false
//   burnerap_fault2=ReqToDriver.write:1:unplug:8  ; the camera leaves after 8 pages of the first
//   burnerap_fault3=Initialize_DriverInterface:*:-3
//
// Form: <entry>[@<camera>]:<calls>:<action>
//   <entry>   an export name of the library; for BurnerApLib also ReqToDriver.read and
//             ReqToDriver.write, which count only the calls with request 7 or 6.
//   @<camera> counts only calls directed at that bench camera (by index, handle or, for
//             BurnerApLib, the camera its interface is using). On an entry that concerns no
//             camera (RvcLib_Initialize, RvcLib_UnInitialize, Initialize_DriverInterface,
//             GetDeviceList) every call counts, and the camera is the one an unplug takes away.
//   <calls>   which of the counted calls, from 1: "N" the Nth, "N+" the Nth and later, "N-M" a
//             range, "*" every one.
//   <action>  <number>                 the call returns the number (decimal, -decimal or 0x-hex)
//                                      and does nothing; a bool entry returns number != 0, so 0
//                                      is a refusal and 1 a success that did nothing.
//             corrupt[:<mask>[:<offset>]]
//                                      the call works, but the byte at <offset> (default 0) of
//                                      what it hands back is XORed with <mask> (default 0xFF); on
//                                      a write the byte lands corrupted in the device's memory.
//             unplug[:<steps>]         the camera leaves the bus: with no steps before the call
//                                      acts (the call fails as on an absent camera), else after
//                                      the call's <steps>th progress step (a write stops there;
//                                      a call without steps completes first). Later calls fail
//                                      and enumeration no longer lists it. An entry not directed
//                                      at a camera needs @<camera> to unplug.
//
// A power cut has a form of its own, counted over every call of the library (all entries, whatever
// camera they concern, GetProgress excepted: it runs beside a write):
//   rvclib_fault1=cut=<n>[:<bytes>]
// The library's cameras lose their power during its nth call, once <bytes> of that call's memory
// work are done (0, the default: before the call does anything). Memory work is what the call does
// to or reads from the camera's memory, byte by byte in the order it goes: EEPROMWrite3 writes
// `size` bytes and then reads them back (2 * size in all), EEPROMWrite and ReqToDriver write or read
// their length, EEPROMErase and EraseSF erase the whole memory from address 0, EEPROMRead reads its
// size. A call with less work than <bytes>, or none, does all of it first; what a call changes
// outside the memory is lost with the power anyway. The call and every later one fail as on an
// absent camera; the cut is kept in <record>.power (state=cut) and the cameras stay away in later
// processes until `benchtool replug` (docs/emulated-bench.md, "Cut and return").
// Numbers anywhere are decimal or 0x-prefixed hexadecimal. Counting starts when the library loads.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "emu/fault_ops.h"

namespace emu::vendor {

enum class FaultAction : uint8_t { Return, Corrupt, Unplug, Cut };

// An entry a fault may name; `directed` when its calls concern one camera, `unpluggable` unless
// the call may run beside another (an unplug there would race it).
struct EntryName {
    const char* name;
    bool directed;
    bool unpluggable = true;
};

// The entries of one device of the bench's operation table (emu/fault_ops.h).
std::vector<EntryName> EntriesOf(faultops::Device device);

struct EntryFault {
    std::string entry;
    std::string camera;  // empty: calls directed at any camera, or at none
    uint32_t firstCall = 1;
    uint32_t lastCall = UINT32_MAX;
    FaultAction action = FaultAction::Return;
    int32_t code = 0;
    uint8_t mask = 0xFF;
    uint32_t offset = 0;
    uint32_t steps = 0;  // unplug: after this many progress steps; 0: before the call acts
    uint32_t bytes = 0;  // cut: after this much of the call's memory work; firstCall is the call
    uint32_t calls = 0;  // counted calls so far
};

// What the faults make of one call.
struct CallVerdict {
    bool fail = false;
    int32_t code = 0;
    bool unplug = false;
    std::string unplugCamera;  // empty: the camera the call is directed at
    uint32_t unplugSteps = 0;
    bool cut = false;  // the power goes during this call, after cutBytes of its memory work
    uint32_t cutBytes = 0;
    std::vector<const EntryFault*> corrupt;

    // XORs the corrupting faults into the bytes handed back, `base` being the offset of data[0].
    void Corrupt(uint8_t* data, size_t n, size_t base = 0) const;
};

// Parses one fault. `entries` are the names the library accepts. On failure says why.
bool ParseEntryFault(std::string_view text, const std::vector<EntryName>& entries, EntryFault& out,
                     std::string& error);

class FaultTable {
public:
    void Add(EntryFault fault) { faults_.push_back(std::move(fault)); }
    const std::vector<EntryFault>& Faults() const { return faults_; }
    // Every call OnCall saw, per entry name (a call counted under two names counts for both),
    // whether or not a fault named it: what a fault-free run tells about the calls it made.
    const std::map<std::string, uint32_t, std::less<>>& Counts() const { return counts_; }

    // Counts a call of the entries named (an entry and its narrower form, e.g. ReqToDriver and
    // ReqToDriver.write) and returns what the faults say. `camera` is the camera a directed call
    // goes to ("" when it names none); `directed` is false for entries that concern no camera. The
    // first failing or unplugging fault in bench order decides; every matching corruption applies.
    // A cut fault counts every call with `forCut` (all but a progress poll beside a write) and
    // wins over every other fault of the call.
    CallVerdict OnCall(std::initializer_list<std::string_view> entries, std::string_view camera,
                       bool directed = true, bool forCut = true);

    // The calls a cut counts, in order: the entry named first and the memory work the call
    // reported (SetWork), so that a fault-free run tells where every cut can fall.
    struct CutCall {
        std::string entry;
        uint32_t work = 0;
    };
    const std::vector<CutCall>& CutCalls() const { return cutCalls_; }
    void SetWork(uint32_t bytes) {
        if (!cutCalls_.empty()) cutCalls_.back().work = bytes;
    }
    bool HasCut() const;
    // The library's cameras lost their power in an earlier process, or came back: a cut happens once.
    void SpendCuts();

private:
    std::vector<EntryFault> faults_;
    std::vector<CutCall> cutCalls_;
    std::map<std::string, uint32_t, std::less<>> counts_;
};

}  // namespace emu::vendor
