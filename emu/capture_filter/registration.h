// How the capture-filter stand-in is registered, as data: what a user's `capture_standin register`
// writes and what the server reads back.
//
//   HKCR\CLSID\{2A51A045-7D26-44D2-8407-7637C5FDD517}
//       (default)        = Camera capture filter stand-in (emulated)
//       Bench            = the bench folder, a full Windows path: the only place the server looks
//                          for its bench (CAMKIT_BENCH is not read, so a program that runs without
//                          a bench variable still reaches a bench through DirectShow)
//       InprocServer32\(default)      = the DLL's full path
//       InprocServer32\ThreadingModel = Both
//   HKCR\CLSID\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\Instance\CamkitStandIn-NNN-<record>
//       FriendlyName, CLSID = the stand-in's class, DevicePath = the camera's DevicePath()
//       (no DevicePath for a camera with nopath=1)
// One Instance per camera of the bench, virtual ones (bus=root) included, since DirectShow lists
// those too. NNN is the camera's position in the bench, so that the registry's name order, in which
// the enumerator returns devices, is the bench's order.
#pragma once

#include <string>
#include <vector>

#include "emu/bench.h"
#include "emu/bench_devices.h"

namespace emu::capture {

inline constexpr const char* kStandInClsid = "{2A51A045-7D26-44D2-8407-7637C5FDD517}";
inline constexpr const char* kVideoInputCategory = "{860BB310-5D01-11D0-BD3B-00A0C911CE86}";
inline constexpr const char* kStandInDll = "CaptureStandIn.dll";
inline constexpr const char* kStandInDescription = "Camera capture filter stand-in (emulated)";
inline constexpr const char* kBenchValue = "Bench";
// Instance key names begin with this, which is how unregistering finds ours.
inline constexpr const char* kInstancePrefix = "CamkitStandIn-";

// Keys below HKEY_CLASSES_ROOT.
std::string ClassKey();      // CLSID\{2A51A045-...}
std::string InstancesKey();  // CLSID\{860BB310-...}\Instance

struct RegistryValue {
    std::string key;   // below HKEY_CLASSES_ROOT
    std::string name;  // empty: the key's default value
    std::string data;  // REG_SZ
};

// Every value to write for `bench`, keys in creation order. `dllPath` and `benchFolder` are full
// Windows paths. With `now`, the cameras as the system sees them at this moment: one whose power
// was cut, or a dead one, is left out, one in ROM mode is registered with its ROM's identity (a
// registration is a snapshot, as a device's interface on a real machine: register again after a
// cut or a replug).
std::vector<RegistryValue> RegistrationPlan(const Bench& bench, const std::string& benchFolder,
                                            const std::string& dllPath, const BenchDevices* now = nullptr);

}  // namespace emu::capture
