// Private-profile (INI) reading port.
//
// The contract is that of the Win32 GetPrivateProfile* calls, because the kit's configuration files
// are read through them on Windows and the native build must see exactly the same values:
//   * sections and keys are found case-insensitively; the first of duplicates wins;
//   * blanks around section names, keys and values are trimmed; lines starting with ';' are comments;
//   * a missing file or key gives the default (GetString) or 0 / an empty list (section calls);
//   * results are cut to the caller's buffer, always NUL-terminated, never overrun.
// The file name is used as given (relative names are taken from the current directory; the kit
// always passes ".\name" or a full path). All calls are synchronous and thread-safe; none throws.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kit {

class ProfileReader {
public:
    virtual ~ProfileReader() = default;

    // GetPrivateProfileStringA. section == nullptr: all section names as "A\0B\0\0";
    // key == nullptr: all key names of the section (lines without '=' left out).
    // A value loses one pair of matching surrounding quotes ('...' or "..."). Returns the number of
    // characters written without the final NUL; a value cut to the buffer returns size - 1 (a quoted
    // value that just fits loses one more character), a list cut to the buffer returns size - 2.
    // Nothing is written past the final NUL.
    virtual uint32_t GetString(const char* section, const char* key, const char* def, char* out,
                               uint32_t size, const char* file) = 0;

    // GetPrivateProfileSectionA: "k=v\0k\0k=v\0\0" in file order, comments and blank lines left out,
    // quotes kept. Returns the characters written without the final NUL; a cut list returns size - 2
    // and, like an empty one, ends in two NULs.
    virtual uint32_t GetSection(const char* section, char* out, uint32_t size, const char* file) = 0;

    // GetPrivateProfileSectionNamesA: "A\0B\0\0". A cut list returns size - 2 and ends in one NUL.
    virtual uint32_t GetSectionNames(char* out, uint32_t size, const char* file) = 0;

    // GetPrivateProfileIntA: the decimal (or 0x-prefixed hexadecimal) number at the start of the
    // value; def when the key is missing or empty; 0 when the value does not start with a number.
    virtual uint32_t GetInt(const char* section, const char* key, int32_t def, const char* file) = 0;
};

// Reads the files itself; used by the native build and wherever the kit reads a file of its own
// that must not depend on the host (the bench description).
class PortableProfile final : public ProfileReader {
public:
    uint32_t GetString(const char* section, const char* key, const char* def, char* out,
                       uint32_t size, const char* file) override;
    uint32_t GetSection(const char* section, char* out, uint32_t size, const char* file) override;
    uint32_t GetSectionNames(char* out, uint32_t size, const char* file) override;
    uint32_t GetInt(const char* section, const char* key, int32_t def, const char* file) override;
};

// The reader of the running platform: the Win32 calls on Windows, PortableProfile elsewhere.
ProfileReader& SystemProfile();

// Splits "A\0B\0\0" (as returned above, with the returned length) into its strings.
std::vector<std::string> SplitNulList(const char* buf, uint32_t length);

}  // namespace kit
