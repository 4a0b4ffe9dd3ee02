// File-system port of the updater: the queries and the plain byte files it needs.
//
// Paths are Windows paths ("C:\kit\config.ini"); relative paths are taken from the current
// directory. Every call is synchronous, may block on the disk, runs on the caller's thread (main
// thread or update worker thread) and never throws. Text-mode translation is not done here: files
// are read and written as bytes, and the caller translates line ends itself.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kit {

// A file open for reading in binary mode; closed when destroyed.
class ReadableFile {
public:
    virtual ~ReadableFile() = default;
    // Length of the file in bytes, as opened.
    virtual uint64_t Length() = 0;
    // Reads up to `size` bytes from the current position; returns how many arrived (fewer only at
    // the end of the file or on a read error).
    virtual uint32_t Read(void* out, uint32_t size) = 0;
};

// A file open for writing bytes; closed (and flushed) when destroyed.
class WritableFile {
public:
    virtual ~WritableFile() = default;
    // Writes all bytes at the end position; false when not all of them could be written.
    virtual bool Write(const void* data, size_t size) = 0;
    // Pushes what is buffered to the disk; false on a write error.
    virtual bool Flush() = 0;
};

class FileSystemPort {
public:
    virtual ~FileSystemPort() = default;
    // True when `path` names an existing file (a directory of that name does not count).
    virtual bool FileExists(const char* path) = 0;
    // Names (without folder) that FindFirstFile/FindNextFile return for `pattern` ("C:\kit\*.bin"),
    // in the order the file system returns them, directories and "." / ".." included. Empty when
    // nothing matches or the folder cannot be read.
    virtual std::vector<std::string> Matches(const char* pattern) = 0;
    // _stat64 of `path`: true with the size when the query succeeds (files and directories).
    virtual bool Status(const char* path, uint64_t& size) = 0;
    // Opens an existing file for reading (others may read it too); nullptr when it cannot be opened.
    virtual std::unique_ptr<ReadableFile> OpenRead(const char* path) = 0;
    // Opens for reading and writing, creating the file when missing, never truncating it, positioned
    // at its end; nullptr when it cannot be opened.
    virtual std::unique_ptr<WritableFile> OpenAppend(const char* path) = 0;
    // Creates the file, or truncates an existing one, for writing; nullptr on failure.
    virtual std::unique_ptr<WritableFile> Create(const char* path) = 0;
    // Deletes a file; false when it could not be deleted (missing, in use, read-only).
    virtual bool Delete(const char* path) = 0;
    // The user's temporary folder as GetTempPathA reports it, with its trailing backslash; empty when
    // the query fails or the folder needs more than `maxChars` - 1 characters.
    virtual std::string TempFolder(uint32_t maxChars) = 0;
};

}  // namespace kit
