// The update log "FW Update Log.log": a text-mode file written through CStdioFileEx, and the line
// forms of every message that goes to it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "kit/file_system.h"
#include "kit/wall_clock.h"

namespace tessaw {

// Turns each "\n" into "\r\n", as a text-mode stream on Windows does on its way to the disk, so that
// every host writes the same bytes ("\r\n" in a message lands as "\r\r\n").
std::string TextModeBytes(const std::string& text);

// "\r\n%Y/%m/%d    %H:%M\r\n"
std::string DateLine(const kit::LocalTime& t);
// "\r\n%a    %Y-%m-%d\r\n%H:%M\r\n" with the English abbreviated weekday name.
std::string RunStamp(const kit::LocalTime& t);
// "----------------: %s" and "----------------: Error: %s".
std::string PlainLine(const std::string& text);
std::string ErrorLine(const std::string& text);
// "%10.3f\t" of the seconds between two processor-clock readings, held in single precision.
std::string SecondsStamp(uint32_t createdMs, uint32_t nowMs);

// The log path for a log switch: 1 the temporary folder, 2 the program directory, else none.
std::string LogPathFor(int logSwitch, const std::string& tempFolder);

// A buffered text-mode log file. Writes and flushes do nothing while the log switch is 0, so that
// anything said before config.ini switched logging on never reaches the disk. Safe to use from the
// main thread and the update worker thread; one lock serialises the writes.
class CStdioFileEx {
public:
    // Reads the processor clock: stamped writes count seconds from here.
    CStdioFileEx(kit::FileSystemPort& files, kit::ClockPort& clock);

    // Sets the log switch and, when it is not 0, opens `path` for appending. A switch outside 0..2
    // or a file that cannot be opened leaves logging off (switch 0); returns whether logging is on.
    bool Open(int logSwitch, const std::string& path);
    // Shares another log's open file and switch (the second writer of the Realtek progress callback);
    // stamped writes of this object still count from its own creation.
    // Call it before either object is used from another thread.
    void ShareStreamOf(const CStdioFileEx& other);

    bool On() const { return logSwitch_ != 0; }
    int Switch() const { return logSwitch_.load(); }

    void WriteString(const std::string& text);
    void Flush();
    void StampedWrite(const std::string& text);
    // Closes the file (of every sharer) and leaves this writer off; later writes are dropped.
    void Close();

private:
    struct Stream {
        std::mutex lock;
        std::unique_ptr<kit::WritableFile> file;
    };
    kit::FileSystemPort& files_;
    kit::ClockPort& clock_;
    uint32_t createdMs_;
    std::atomic<int> logSwitch_{0};
    std::shared_ptr<Stream> stream_;  // never null; shared with ShareStreamOf
};

}  // namespace tessaw
