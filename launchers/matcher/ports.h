// Kestrim's ports: the cameras it looks at, the processes it starts, its console, and the ID list it
// reads. All but the list file are the platform's shared ports (platform/include/kit/); the entry
// point (main_win32.cpp) gives it DirectShow's devices or a bench's, and StdioFiles (kestrim.h) the
// list. Synchronous on the one thread the matcher has; nothing throws.
#pragma once

#include <memory>

#include "kit/process.h"
#include "kit/video_input.h"

namespace kestrim {

// One byte at a time from a file opened for reading.
class CharSource {
public:
    virtual ~CharSource() = default;
    virtual int Get() = 0;  // next byte, or -1 at the end
};

class FilePort {
public:
    virtual ~FilePort() = default;
    // Opens the file for reading, as C's text mode reads it on Windows: "\r\n" arrives as "\n" and
    // a Ctrl-Z ends the file. nullptr when it cannot be opened.
    virtual std::unique_ptr<CharSource> OpenText(const char* name) = 0;
};

struct Ports {
    kit::VideoInputPort& devices;
    kit::ProcessPort& processes;
    kit::ConsolePort& console;
    FilePort& files;
};

}  // namespace kestrim
