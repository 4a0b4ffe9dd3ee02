// The private-profile reader on any file: every call, any buffer size, any section and key name.
// Beside what the sanitizers catch, the buffer contract is checked: nothing written past `size`,
// the result terminated inside the buffer, the returned count within it.
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "kit/profile.h"

namespace {

constexpr char kGuard = '\x5A';

// Calls one reader entry with a buffer of `size` characters inside a guarded allocation.
template <typename Call>
void Checked(uint32_t size, Call call) {
    std::vector<char> buffer(size + 16, kGuard);
    const uint32_t n = call(buffer.data(), size);
    for (size_t i = size; i < buffer.size(); ++i)
        if (buffer[i] != kGuard) __builtin_trap();  // written past the caller's buffer
    if (size == 0) return;
    if (n >= size) __builtin_trap();  // a count the buffer cannot hold
    if (std::memchr(buffer.data(), '\0', size) == nullptr) __builtin_trap();  // left unterminated
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz::ScratchFile file("profile.ini");
    FuzzedDataProvider in(data, size);
    const uint32_t bufferSize = in.ConsumeIntegralInRange<uint32_t>(0, 300);
    const std::string section = fuzz::CString(in, 16);
    const std::string key = fuzz::CString(in, 16);
    const std::string def = fuzz::CString(in, 16);
    file.Write(in.ConsumeRemainingBytesAsString());
    const char* path = file.Path().c_str();

    kit::PortableProfile profile;
    Checked(bufferSize, [&](char* out, uint32_t n) {
        return profile.GetString(section.c_str(), key.c_str(), def.c_str(), out, n, path);
    });
    Checked(bufferSize, [&](char* out, uint32_t n) {
        return profile.GetString(section.c_str(), nullptr, def.c_str(), out, n, path);
    });
    Checked(bufferSize, [&](char* out, uint32_t n) { return profile.GetString(nullptr, nullptr, "", out, n, path); });
    Checked(bufferSize, [&](char* out, uint32_t n) { return profile.GetSection(section.c_str(), out, n, path); });
    Checked(bufferSize, [&](char* out, uint32_t n) { return profile.GetSectionNames(out, n, path); });
    profile.GetInt(section.c_str(), key.c_str(), 7, path);

    // The list splitter on a full-size answer, as the updater reads [Config].
    std::vector<char> list(0x10000, '\0');
    const uint32_t n = profile.GetSection(section.c_str(), list.data(), static_cast<uint32_t>(list.size()), path);
    kit::SplitNulList(list.data(), n + 1 < list.size() ? n + 1 : static_cast<uint32_t>(list.size()));
    return 0;
}
