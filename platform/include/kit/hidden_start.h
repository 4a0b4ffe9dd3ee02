// Starts a program hidden and does not wait for it (how the updater runs SubSystemID.exe).
//
// Synchronous only for the start itself; main thread; never throws.
#pragma once

#include <cstdint>

namespace kit {

inline constexpr uint32_t kStartedAtLeast = 32;  // results below this are failures

class ProgramStartPort {
public:
    virtual ~ProgramStartPort() = default;
    // Starts the program at `path` (a full path, blanks allowed) with no arguments, its window
    // hidden, in the current directory, and returns at once. The result follows WinExec: 32 or more
    // when the program was started; below 32 on failure (0 out of resources, 2 file not found,
    // 3 path not found, 5 access denied, 11 not an executable).
    virtual uint32_t StartHidden(const char* path) = 0;
};

}  // namespace kit
