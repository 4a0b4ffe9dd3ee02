// Persistent device memory of an emulated bench: flash and EEPROM images as plain files in the
// bench folder, written back after every change so that a later process sees what an earlier one
// flashed.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

namespace emu {

// Reads the whole file into `out`. A missing file is not an error when `size` is given: the image
// is then `size` bytes of `fill` (an erased part). Returns false and says why in `error` otherwise.
bool LoadImage(const std::string& path, std::vector<uint8_t>& out, std::string& error, size_t size = 0,
               uint8_t fill = 0xFF);

// Writes the image through a temporary file and a rename, so that an interrupted write never
// leaves a half-written image behind. Returns false and says why in `error`.
bool SaveImage(const std::string& path, const std::vector<uint8_t>& image, std::string& error);

// A bench is read while it is written (a program listing its cameras, the updater's plug watch,
// while the library saves a camera's memory after every request), and Windows refuses both to
// replace a file that another handle holds open and to open one while it is being replaced. Both
// sides wait the other out: `attempt` runs until it succeeds or fails with anything but a refused
// access, at most `tries` times with `pause` between them, and its last result is returned.
std::error_code RetryWhileRefused(const std::function<std::error_code()>& attempt, int tries,
                                  std::chrono::milliseconds pause);

// <bench folder>/<name>, with the separator the folder already uses.
std::string BenchFilePath(const std::string& folder, const std::string& name);

}  // namespace emu
