// The backup file that the updater and the write tool keep of a camera's memory before they erase
// it, when their settings ask for one: its name and its safe writing.
//
// Name: "Backup_VID_<vid>_PID_<pid>_REV_<rev>_<YYYYMMDD>_<HHMMSS>.bin", the IDs as four upper-case
// hexadecimal digits and the local time of the backup; a second backup of the same camera within the
// same second gets "_2" (up to "_9") before ".bin", so an earlier backup is never overwritten. Only
// letters, digits, "_" and "." occur: a valid file name on every Windows file system.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "kit/file_system.h"
#include "kit/wall_clock.h"

namespace kit {

inline constexpr int kBackupMaxSuffix = 9;

// A word of the name: hexadecimal digits only, upper case, at most four, zero-padded on the left;
// "0000" when none is left.
inline std::string BackupNameWord(const std::string& text) {
    char word[5] = {'0', '0', '0', '0', '\0'};
    char digits[4];
    size_t n = 0;
    for (char c : text) {
        if (n == 4) break;
        if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) digits[n++] = c;
    }
    for (size_t i = 0; i < n; ++i) word[4 - n + i] = digits[i];
    return word;
}

inline std::string BackupNameWord(uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(value));
    return text;
}

// `suffix` 1 is the plain name, 2..9 the names of later backups in the same second.
inline std::string BackupFileName(const std::string& vid, const std::string& pid, const std::string& rev,
                                  const LocalTime& t, int suffix = 1) {
    char name[96];
    char more[8] = "";
    if (suffix > 1) std::snprintf(more, sizeof more, "_%d", suffix % 100);
    std::snprintf(name, sizeof name, "Backup_VID_%s_PID_%s_REV_%s_%04d%02d%02d_%02d%02d%02d%s.bin",
                  BackupNameWord(vid).c_str(), BackupNameWord(pid).c_str(), BackupNameWord(rev).c_str(),
                  t.year % 10000, t.month % 100, t.day % 100, t.hour % 100, t.minute % 100, t.second % 100, more);
    return name;
}

struct BackupOutcome {
    bool saved = false;
    std::string path;  // the file written, or the last one tried
};

// Writes `bytes` into a new file in `folder` (no trailing backslash) under the backup name, then
// reads it back and compares: a full disk, a write that was cut or a file that cannot be made all
// give saved = false, and a partial file is deleted so that it is never taken for a backup.
inline BackupOutcome SaveBackupFile(FileSystemPort& files, const std::string& folder, const std::string& vid,
                                    const std::string& pid, const std::string& rev, const LocalTime& time,
                                    const std::vector<uint8_t>& bytes) {
    BackupOutcome out;
    for (int suffix = 1; suffix <= kBackupMaxSuffix; ++suffix) {
        out.path = folder;
        out.path += '\\';
        out.path += BackupFileName(vid, pid, rev, time, suffix);
        if (!files.FileExists(out.path.c_str())) break;
        if (suffix == kBackupMaxSuffix) return out;  // nine backups in one second: refuse a tenth
    }
    {
        std::unique_ptr<WritableFile> file = files.Create(out.path.c_str());
        if (!file) return out;
        const bool written = file->Write(bytes.data(), bytes.size()) && file->Flush();
        file.reset();  // closed before it is read back
        if (!written) {
            files.Delete(out.path.c_str());
            return out;
        }
    }
    std::unique_ptr<ReadableFile> check = files.OpenRead(out.path.c_str());
    std::vector<uint8_t> again(bytes.size() + 1);
    const bool same = check && check->Length() == bytes.size() &&
                      check->Read(again.data(), static_cast<uint32_t>(again.size())) == bytes.size() &&
                      std::equal(bytes.begin(), bytes.end(), again.begin());
    check.reset();
    if (!same) {
        files.Delete(out.path.c_str());
        return out;
    }
    out.saved = true;
    return out;
}

}  // namespace kit
