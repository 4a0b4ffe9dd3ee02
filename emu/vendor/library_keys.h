// The [bench] keys that concern a whole vendor library rather than one camera:
//
//   [bench]
//   rvclib_missing=EEPROMInfo2, UVC_Close   ; exports the RvcLib.dll stand-in hides at load time
//   rvclib_fault1=...                       ; faults, one per key (see vendor_faults.h), in
//   burnerap_fault1=...                     ; file order; any number after "_fault"
//
// The library's prefix is "rvclib" or "burnerap".
#pragma once

#include <string>
#include <vector>

#include "emu/bench.h"
#include "emu/vendor/vendor_faults.h"

namespace emu::vendor {

// Every <prefix>_fault<k> key of [bench], parsed against `entries`. Says which key is malformed.
bool ReadLibraryFaults(const Bench& bench, const char* prefix, const std::vector<EntryName>& entries,
                       FaultTable& out, std::string& error);

// The names of <prefix>_missing (comma-separated), each one an entry of `entries`.
bool ReadMissingEntries(const Bench& bench, const char* prefix, const std::vector<EntryName>& entries,
                        std::vector<std::string>& out, std::string& error);

}  // namespace emu::vendor
