// Scripted misbehaviour of an emulated chip: plain records that a bench fills, one per text line.
//
// Line forms (numbers are decimal or 0x-prefixed hexadecimal):
//   fail=<op>[:<target>][@<calls>[:<code>]]        the matching calls answer <code> (default
//                                                   0x8007001F) and change nothing
//   corrupt=<op>[:<target>][@<calls>[:<mask>[:<offset>]]]
//                                                   a successful read has <mask> (default 0xFF)
//                                                   XORed into its byte at <offset> (default 0)
//   unplug=<op>[:<target>][@<calls>]                the device leaves the bus at the first matching
//                                                   call: that call and every later request answer
//                                                   0x8007048F (device not connected)
//   busy=hold                                       the checksum-trigger busy flag never clears
//   chunk=<bytes>                                   the download chunk length the device reports
//   refuse=first_set                                requests on the first property set answer
//                                                   0x80070492
//   notready=<k>                                    the first k requests answer 0x80070015
//   cut=<n>[:<us>]                                  the power goes during the nth extension-unit
//                                                   request (every length query, read and write
//                                                   counts, from 1), <us> µs of virtual time after
//                                                   it arrived (default 0: before it acts) and at
//                                                   the latest when it ends; a flash erase or
//                                                   program under way is torn (spi_flash.h). That
//                                                   request and every later one answer 0x8007048F
// <op> is xu_length, xu_read, xu_write (target: selector) or reg_read, reg_write (target:
// register address, matched by 8- and 16-bit data accesses that cover it). Without a target every
// call of the op matches. <calls> counts the matching calls from 1: "N" is the Nth only, "N+" the
// Nth and all later, "N-M" a range, "*" (the default) all of them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace emu::faultops {
struct Operation;
}

namespace emu::quelmar {

enum class FaultKind : uint8_t { Fail, Corrupt, HoldBusy, ChunkSize, RefuseFirstSet, NotReady, Unplug, Cut };
enum class FaultOp : uint8_t { None, XuLength, XuRead, XuWrite, RegRead, RegWrite };

struct Fault {
    FaultKind kind = FaultKind::Fail;
    FaultOp op = FaultOp::None;
    int32_t target = -1;  // selector or register address; -1 any
    uint32_t firstCall = 1;
    uint32_t lastCall = UINT32_MAX;
    int32_t code = static_cast<int32_t>(0x8007001F);
    uint8_t mask = 0xFF;
    uint32_t offset = 0;  // corrupt: the byte; cut: µs into the request
    uint32_t value = 0;   // chunk bytes, the number of not-ready answers, or the request a cut hits
    uint32_t calls = 0;  // matching calls seen so far (state, starts at 0)

    bool Covers(uint32_t call) const { return call >= firstCall && call <= lastCall; }
};

// Parses one line as above (surrounding blanks allowed). On failure returns false and says why.
bool ParseFault(std::string_view line, Fault& out, std::string& error);
// The row of the bench's operation table (emu/fault_ops.h) an op stands for; nullptr for None.
const emu::faultops::Operation* OperationOf(FaultOp op);
// The op of that name in the table; None for a name it lacks.
FaultOp FaultOpNamed(std::string_view name);

// The line ParseFault reads back into the same fault (for showing a bench's state).
std::string FormatFault(const Fault& fault);

}  // namespace emu::quelmar
