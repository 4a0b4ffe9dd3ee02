// Persistent device memory of an emulated bench: flash and EEPROM images as plain files in the
// bench folder, written back after every change so that a later process sees what an earlier one
// flashed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace emu {

// Reads the whole file into `out`. A missing file is not an error when `size` is given: the image
// is then `size` bytes of `fill` (an erased part). Returns false and says why in `error` otherwise.
bool LoadImage(const std::string& path, std::vector<uint8_t>& out, std::string& error, size_t size = 0,
               uint8_t fill = 0xFF);

// Writes the image through a temporary file and a rename, so that an interrupted write never
// leaves a half-written image behind. Returns false and says why in `error`.
bool SaveImage(const std::string& path, const std::vector<uint8_t>& image, std::string& error);

// <bench folder>/<name>, with the separator the folder already uses.
std::string BenchFilePath(const std::string& folder, const std::string& name);

}  // namespace emu
