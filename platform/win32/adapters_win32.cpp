// Win32-only: the generic adapters of the kit's ports over the registry, the loader, CreateProcess,
// the file system and the clocks, for every GUI program of the kit.
#include "platform/win32/adapters_win32.h"

#include <sys/stat.h>

#include <ctime>
#include <memory>
#include <vector>

#include "kit/trace.h"
#include "platform/win32/dll_search.h"
#include "platform/win32/handles.h"
#include "platform/win32/process_win32.h"

namespace kit {
namespace {

HKEY AsKey(RegistryPort::Key key) { return static_cast<HKEY>(key); }

class FileReader final : public ReadableFile {
public:
    explicit FileReader(FileHandle file) : file_(std::move(file)) {}
    uint64_t Length() override {
        LARGE_INTEGER size;
        return GetFileSizeEx(file_.Get(), &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
    }
    uint32_t Read(void* out, uint32_t size) override {
        uint32_t total = 0;
        while (total < size) {
            DWORD got = 0;
            if (!ReadFile(file_.Get(), static_cast<char*>(out) + total, size - total, &got, nullptr) ||
                got == 0)
                break;
            total += got;
        }
        return total;
    }

private:
    FileHandle file_;
};

class FileWriter final : public WritableFile {
public:
    explicit FileWriter(FileHandle file) : file_(std::move(file)) {}
    bool Write(const void* data, size_t size) override {
        const char* at = static_cast<const char*>(data);
        while (size > 0) {
            DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size), done = 0;
            if (!WriteFile(file_.Get(), at, chunk, &done, nullptr) || done == 0) return false;
            at += done;
            size -= done;
        }
        return true;
    }
    bool Flush() override { return FlushFileBuffers(file_.Get()) != FALSE; }

private:
    FileHandle file_;
};

// The result WinExec would give for a CreateProcess error.
uint32_t WinExecCode(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
            return 2;
        case ERROR_PATH_NOT_FOUND:
            return 3;
        case ERROR_ACCESS_DENIED:
            return 5;
        case ERROR_BAD_FORMAT:
        case ERROR_BAD_EXE_FORMAT:
        case ERROR_EXE_MACHINE_TYPE_MISMATCH:
            return 11;
        default:
            return 0;
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------

bool Win32Registry::OpenLocalMachine(const char* path, Key& out) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    out = key;
    return true;
}

bool Win32Registry::OpenSubKey(Key parent, const char* name, Key& out) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(AsKey(parent), name, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    out = key;
    return true;
}

bool Win32Registry::SubKeyName(Key key, uint32_t index, uint32_t maxChars, std::string& name) {
    std::vector<char> buffer(maxChars + 1, '\0');
    DWORD length = maxChars;
    if (RegEnumKeyExA(AsKey(key), index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
        return false;
    name.assign(buffer.data(), length);
    return true;
}

bool Win32Registry::ReadString(Key key, const char* value, uint32_t maxBytes, std::string& out) {
    std::vector<char> buffer(maxBytes + 1, '\0');
    DWORD type = 0, size = maxBytes;
    if (RegQueryValueExA(AsKey(key), value, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
        ERROR_SUCCESS)
        return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    // A value stored without its terminator arrives without one.
    out.assign(buffer.data(), size);
    out.resize(std::string(out.c_str()).size());
    return true;
}

void Win32Registry::Close(Key key) {
    if (key) RegCloseKey(AsKey(key));
}

// ---------------------------------------------------------------------------------------------

void* SafeLibraries::LoadByPath(const char* fullPath) { return LoadLibraryFromPath(fullPath); }

// The program's folder and the system folders only: never a DLL planted in whatever folder the
// program was started from, nor one on PATH.
void* SafeLibraries::LoadByName(const char* name) { return LoadLibrarySafely(name); }

EntryPoint SafeLibraries::Find(void* module, const char* name) {
    if (!module) return nullptr;
    return reinterpret_cast<EntryPoint>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void SafeLibraries::Free(void* module) {
    if (module) FreeLibrary(static_cast<HMODULE>(module));
}

// ---------------------------------------------------------------------------------------------

uint32_t HiddenStart::StartHidden(const char* path) {
    std::string quoted = std::string("\"") + path + "\"";
    std::vector<char> commandLine(quoted.begin(), quoted.end());
    commandLine.push_back('\0');
    PROCESS_INFORMATION started;
    DWORD error = 0;
    if (!StartProcess(path, commandLine.data(), StartWindow::Hidden, started, error)) {
        TraceF(SystemTrace(), "%s cannot be started (error %lu)\n", path, error);
        return WinExecCode(error);
    }
    KernelHandle process(started.hProcess), thread(started.hThread);
    return kStartedAtLeast + 1;
}

// ---------------------------------------------------------------------------------------------

bool Win32Files::FileExists(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::string> Win32Files::Matches(const char* pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    FindHandle search(FindFirstFileA(pattern, &found));
    if (!search) return names;
    do {
        names.emplace_back(found.cFileName);
    } while (FindNextFileA(search.Get(), &found));
    return names;
}

bool Win32Files::Status(const char* path, uint64_t& size) {
    struct _stat64 status;
    if (_stat64(path, &status) != 0) return false;
    size = static_cast<uint64_t>(status.st_size);
    return true;
}

std::unique_ptr<ReadableFile> Win32Files::OpenRead(const char* path) {
    FileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return nullptr;
    return std::make_unique<FileReader>(std::move(file));
}

std::unique_ptr<WritableFile> Win32Files::OpenAppend(const char* path) {
    FileHandle file(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return nullptr;
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    if (!SetFilePointerEx(file.Get(), zero, nullptr, FILE_END)) return nullptr;
    return std::make_unique<FileWriter>(std::move(file));
}

std::unique_ptr<WritableFile> Win32Files::Create(const char* path) {
    FileHandle file(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return nullptr;
    return std::make_unique<FileWriter>(std::move(file));
}

bool Win32Files::Delete(const char* path) { return DeleteFileA(path) != FALSE; }

std::string Win32Files::TempFolder(uint32_t maxChars) {
    std::vector<char> buffer(maxChars + 1, '\0');
    DWORD n = GetTempPathA(maxChars, buffer.data());
    if (n == 0 || n >= maxChars) return {};
    return std::string(buffer.data(), n);
}

// ---------------------------------------------------------------------------------------------

uint32_t Win32Clock::ProcessMilliseconds() {
    // The C runtime's clock() counts milliseconds (CLOCKS_PER_SEC is 1000).
    return static_cast<uint32_t>(std::clock() * (1000 / CLOCKS_PER_SEC));
}

LocalTime Win32Clock::Now() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wDayOfWeek};
}

}  // namespace kit
