// benchtool: makes a bench from a ready-made template and shows what a bench holds.
//
//   benchtool list                         the templates
//   benchtool create <template> <folder>   a new bench (refuses a folder that already has one)
//   benchtool show <folder>                cameras, their memory and revision, the last counters
//   benchtool replay-check <transcript>    replays a recorded transcript against the chip model of
//                                          its family and flash part (its template's camera, with
//                                          the factory firmware) and names the first request the
//                                          model answers otherwise: 0 none, 1 one, 2 unusable
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "emu/bench.h"

namespace benchtool {

// The firmware a camera left the factory with: deterministic bytes, the family's valid header
// mark and the identity block (vendor, product, release) at the family's offset. Family 0: a
// Realtek or Sonix memory (no header mark, identity block at 0xF000).
std::vector<uint8_t> FactoryImage(const emu::CameraRecord& camera, char family, uint32_t size);

// CRC-32 (IEEE), for telling images apart at a glance.
uint32_t Crc32(const std::vector<uint8_t>& data);

// Runs the tool; text for standard output goes to `out`, errors to `err`. Returns the exit code.
int Main(const std::vector<std::string>& args, std::string& out, std::string& err);

}  // namespace benchtool
