// Every operation of the emulated bench that a fault line can hit, in one table: the Quelmar chip's
// extension-unit requests and register accesses, the entry points of the two vendor-library models
// and the steps of the emulated still-capture graph. The fault parsers accept exactly these names,
// and the fault matrix (tests/faultmatrix) makes its cases from this table, so an operation added
// here is faulted there, and one missing here cannot be faulted at all.
//
// A fault line is made by FaultLine, in the form of the device's own keys:
//   Quelmar chip   camera key  fault<k>=fail=xu_read:3@5      (emu/quelmar/faults.h)
//   RvcLib model   [bench]     rvclib_fault<k>=EEPROMWrite3:1:-1   (emu/vendor/vendor_faults.h)
//   BurnerAp model [bench]     burnerap_fault<k>=ReqToDriver.write:3:unplug
//   still graph    [bench]     still_fault<k>=ConnectPins:1:0x80004005 (emu/adapters/updater/)
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace emu::faultops {

enum class Device : uint8_t { QuelmarChip, RvcLib, BurnerAp, StillGraph };

// What a fault does to the call it hits.
enum class Kind : uint8_t {
    Fail = 1,     // the call answers an error and changes nothing
    Corrupt = 2,  // the call works, but a byte of what it hands back (or lands) is altered
    Unplug = 4,   // the camera leaves the bus at the call
    Cut = 8,      // the power goes at the nth call of the device, counted over all its calls
};

struct Operation {
    Device device;
    const char* name;
    unsigned kinds;         // Kind bits that apply
    bool directed = true;   // vendor entries: the call concerns one camera
    bool targeted = false;  // Quelmar: faults name a selector or a register address
    const char* failValue = nullptr;  // what a failed vendor call answers; nullptr: the device's

    bool Takes(Kind kind) const { return (kinds & static_cast<unsigned>(kind)) != 0; }
};

// The whole table, in a fixed order.
const std::vector<Operation>& Operations();
// The operations of one device, in table order.
std::vector<const Operation*> OperationsOf(Device device);
// nullptr when the device has no operation of that name.
const Operation* Find(Device device, std::string_view name);

const char* KindName(Kind kind);  // "fail", "corrupt", "unplug"
const char* DeviceName(Device device);

// The fault value that hits the `call`th matching call (from 1) of `op` with `kind`: `target` is
// the selector or register address (Quelmar; -1 for any); `camera` names the camera an unplug of a
// vendor entry that concerns no camera takes away. Empty when `kind` does not apply to `op`.
// The still graph answers a failed step with E_FAIL.
std::string FaultLine(const Operation& op, Kind kind, uint32_t call, int32_t target = -1,
                      const std::string& camera = "");

// A power cut at the `call`th call of a device (from 1), after `bytes` of that call's memory work:
// "cut=<call>[:<bytes>]", the form of the Quelmar chip and of both vendor libraries.
std::string CutLine(uint32_t call, uint32_t bytes = 0);

// The bench key that carries the k-th such fault (k from 1): "fault3", "rvclib_fault3", ...
std::string FaultKey(Device device, int k);

}  // namespace emu::faultops
