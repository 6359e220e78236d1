// The media reader's slots, and the media calls on a card that carries a
// file system of its own, simulated by a host directory standing for the
// card's root.
//
// Card names such as "\USERIMG.BIN" are paths from the root, parts split
// by '\' (or '/'); each part matches what the directory holds without
// regard to case, as on a FAT card, and a name not yet there is created as
// given. Only regular files are found, opened and deleted. One file is open
// at a time, in mode 1 (read), 2 (write) or 3 (both); it stays open until
// kvciMediaCloseFile or until its card leaves the slot.
#include <dirent.h>
#include <sys/stat.h>
#include <time.h>

#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "cardfs_volume.h"
#include "standin.h"

namespace kvs {
namespace {

struct OpenFile {
    int fd = -1;
    int16_t mode = 0;
    int slot = -1;
    std::string path;
};
OpenFile openFile;

bool wildMatch(const char *pattern, const char *name) {
    for (; *pattern; ++pattern, ++name) {
        if (*pattern == '*') {
            for (;; ++name) {
                if (wildMatch(pattern + 1, name)) return true;
                if (!*name) return false;
            }
        }
        if (!*name || (*pattern != '?' && tolower((unsigned char)*pattern) != tolower((unsigned char)*name)))
            return false;
    }
    return !*name;
}

bool isDirectory(const std::string &path) { return hostEntryKind(path) == HostEntry::Directory; }

bool isFile(const std::string &path) { return hostEntryKind(path) == HostEntry::File; }

// The entry of `dir` whose name matches `pattern` (wildcards allowed) and
// that is a directory or a regular file as asked, the name as written
// exactly preferred (on Windows the name as written for any case); empty
// when there is none.
std::string findEntry(const std::string &dir, const std::string &pattern, bool wantDirectory) {
    if (pattern.find_first_of("*?") == std::string::npos) {
        if (hasHostEntry(dir, pattern, wantDirectory)) return pattern;
        if (kHostNamesIgnoreCase) return "";  // the host has looked without regard to case
    }
    std::string found;
    if (DIR *d = opendir(dir.c_str())) {
        while (const dirent *e = readdir(d)) {
            if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
            if (!wildMatch(pattern.c_str(), e->d_name)) continue;
            const std::string path = dir + "/" + e->d_name;
            if (wantDirectory ? isDirectory(path) : isFile(path)) {
                found = e->d_name;
                break;
            }
        }
        closedir(d);
    }
    return found;
}

// Splits a card name into the host directory that holds it and its last
// part (still as given). False for a name that cannot be on the card: no
// usable medium selected, an empty part, "." or "..", a missing directory.
bool resolve(const char *name, std::string &dir, std::string &last) {
    const State &s = state();
    if (!name || s.mediaSlot < 0) return false;
    dir = s.reader[s.mediaSlot].directory;
    std::string part;
    for (const char *p = name + strspn(name, "\\/");; ++p) {
        if (*p && *p != '\\' && *p != '/') {
            part += *p;
            continue;
        }
        if (part.empty() || part == "." || part == "..") return false;
        if (!*p) break;
        const std::string entry = findEntry(dir, part, true);
        if (entry.empty()) return false;
        dir += "/" + entry;
        part.clear();
    }
    last = part;
    return true;
}

// The host path of an existing regular file of the card; empty if none.
std::string existingFile(const char *name) {
    std::string dir, last;
    if (!resolve(name, dir, last) || last.find_first_of("*?") != std::string::npos) return "";
    const std::string entry = findEntry(dir, last, false);
    return entry.empty() ? "" : dir + "/" + entry;
}

void putU32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
void putU64(uint8_t *p, uint64_t v) {
    putU32(p, uint32_t(v));
    putU32(p + 4, uint32_t(v >> 32));
}

// The look-up record as long-name find calls return it: attributes, three
// times in 100 ns units since 1601, size high and low, 8 reserved bytes,
// the long name (260 bytes) and the 8.3 name (14 bytes; empty when the
// long name is not one), little-endian.
void fillFound(fd32_fs_lfnfind_t *found, const std::string &name, const struct stat &st) {
    memset(found->data, 0, sizeof found->data);
    uint8_t *p = found->data;
    putU32(p, 0x20);  // archive
    const uint64_t written = (uint64_t(st.st_mtime) + 11644473600ull) * 10000000ull;
    putU64(p + 4, written);
    putU64(p + 12, (uint64_t(st.st_atime) + 11644473600ull) * 10000000ull);
    putU64(p + 20, written);
    putU32(p + 28, uint32_t(uint64_t(st.st_size) >> 32));
    putU32(p + 32, uint32_t(st.st_size));
    char *longName = reinterpret_cast<char *>(p + 44);
    strncpy(longName, name.c_str(), 259);
    const size_t dot = name.find('.');
    const bool shortForm = name.size() <= 12 && name.find(' ') == std::string::npos &&
                           (dot == std::string::npos ? name.size() <= 8
                                                     : dot >= 1 && dot <= 8 && name.size() - dot - 1 <= 3 &&
                                                           name.find('.', dot + 1) == std::string::npos);
    if (shortForm)
        for (size_t i = 0; i < name.size(); ++i) p[304 + i] = uint8_t(toupper((unsigned char)name[i]));
}

}  // namespace

void closeMediaFile() {
    if (openFile.fd >= 0) closeHostFile(openFile.fd);
    openFile = OpenFile();
}

void forgetCard(int readerSlot) {
    if (openFile.slot == readerSlot) closeMediaFile();
    if (state().mediaSlot == readerSlot) state().mediaSlot = -1;
}

int32_t mediaSelect(int16_t readerSlot) {
    State &s = state();
    s.mediaSlot = -1;
    if (readerSlot < 0 || readerSlot >= kReaderSlots || faultHolds(KVS_FAULT_NO_MEDIUM)) return 0;
    const std::string &dir = s.reader[readerSlot].directory;
    if (dir.empty() || !isDirectory(dir)) return 0;
    s.mediaSlot = readerSlot;
    return 1;
}

int32_t mediaFindFirst(const char *name, fd32_fs_lfnfind_t *found) {
    std::string dir, last;
    if (!resolve(name, dir, last)) return 0;
    const std::string entry = findEntry(dir, last, false);
    struct stat st;
    if (entry.empty() || stat((dir + "/" + entry).c_str(), &st) != 0) return 0;
    if (found) fillFound(found, storedHostName(dir, entry), st);
    return 1;
}

int32_t mediaDelete(const char *name) {
    if (faultHolds(KVS_FAULT_DELETE) || powerIsOff()) return 0;
    const std::string path = existingFile(name);
    if (path.empty() || (openFile.fd >= 0 && sameHostPath(path, openFile.path))) return 0;  // an open file stays
    return remove(path.c_str()) == 0 ? 1 : 0;
}

int32_t mediaSetAttributes(const char *name, const FileTime_t *time, const FileDate_t *date, uint32_t size) {
    if (faultHolds(KVS_FAULT_SET_ATTRIBUTES) || powerIsOff()) return 0;
    std::string dir, last;
    if (!resolve(name, dir, last) || last.find_first_of("*?") != std::string::npos) return 0;
    std::string entry = findEntry(dir, last, false);
    if (entry.empty()) {
        if (isDirectory(dir + "/" + last)) return 0;
        entry = last;
    }
    const int fd = openHostFile(dir + "/" + entry, HostAccess::Write, true);
    if (fd < 0) return 0;
    bool ok = resizeHostFile(fd, size);
    if (ok && time && date) {
        struct tm local = {};
        local.tm_year = date->year - 1900;
        local.tm_mon = date->month - 1;
        local.tm_mday = date->day;
        local.tm_hour = time->hour;
        local.tm_min = time->minute;
        local.tm_sec = time->second;
        local.tm_isdst = -1;
        ok = setHostFileTime(fd, mktime(&local), long(time->hundredths % 100) * 10000000L);
    }
    closeHostFile(fd);
    return ok ? 1 : 0;
}

int32_t mediaOpen(const char *name, int16_t mode) {
    ++counters().fileOpens;
    if (faultHits(KVS_FAULT_OPEN) || openFile.fd >= 0 || mode < 1 || mode > 3) return 0;
    const std::string path = existingFile(name);
    if (path.empty()) return 0;
    const HostAccess access = mode == 1 ? HostAccess::Read : mode == 2 ? HostAccess::Write : HostAccess::ReadWrite;
    const int fd = openHostFile(path, access, false);
    if (fd < 0) return 0;
    openFile.fd = fd;
    openFile.mode = mode;
    openFile.slot = state().mediaSlot;
    openFile.path = path;
    return 1;
}

int32_t mediaGetAttributes(FileTime_t *time, FileDate_t *date, uint32_t *size) {
    if (openFile.fd < 0) return 0;
    const int64_t bytes = hostFileSize(openFile.fd);
    time_t seconds;
    long nanoseconds;
    if (bytes < 0 || !hostFileTime(openFile.fd, &seconds, &nanoseconds)) return 0;
    if (size) *size = uint32_t(bytes);
    struct tm local;
    if ((time || date) && !localHostTime(seconds, &local)) return 0;
    if (time) {
        time->minute = uint8_t(local.tm_min);
        time->hour = uint8_t(local.tm_hour);
        time->hundredths = uint8_t(nanoseconds / 10000000L);
        time->second = uint8_t(local.tm_sec);
    }
    if (date) {
        date->year = uint16_t(local.tm_year + 1900);
        date->day = uint8_t(local.tm_mday);
        date->month = uint8_t(local.tm_mon + 1);
    }
    return 1;
}

int32_t mediaRead(void *buffer, uint16_t count, uint32_t offset) {
    ++counters().fileReads;
    if (faultHits(KVS_FAULT_FILE_READ) || openFile.fd < 0 || openFile.mode == 2 || !buffer) return 0;
    return int32_t(readAt(openFile.fd, offset, buffer, count));
}

int32_t mediaWrite(const void *buffer, uint16_t count, uint32_t offset) {
    ++counters().fileWrites;
    const Power power = drawPower(count);
    if (power.kind == Power::Off) return 0;
    if (power.kind == Power::On && faultHits(KVS_FAULT_FILE_WRITE)) return 0;
    if (openFile.fd < 0 || openFile.mode == 1 || (count && !buffer)) return 0;
    if (power.kind == Power::Cut) {
        if (power.torn) {
            // Read apart from the open file, which mode 2 opens for writing only;
            // past the end of the file the torn byte mixes with zeros.
            std::vector<uint8_t> old(count, 0);
            const int fd = openHostFile(openFile.path, HostAccess::Read, false);
            if (fd >= 0) {
                readAt(fd, offset, old.data(), count);
                closeHostFile(fd);
            }
            landTorn(openFile.fd, offset, old.data(), static_cast<const uint8_t *>(buffer), power);
        }
        return 0;
    }
    return writeAt(openFile.fd, offset, buffer, count) ? 1 : 0;
}

}  // namespace kvs

using namespace kvs;

extern "C" {

KVS_API int16_t KVS_InsertFlashCard(int16_t readerSlot, const char *imagePath, uint16_t chip) {
    if (readerSlot < 0 || readerSlot >= kReaderSlots) return CARDFS_E_ARGUMENT;
    try {
        ChipSet card;
        const int16_t st = openChipSet(card, imagePath, chip);
        if (st != kDone) return st;
        ReaderSlot &slot = state().reader[readerSlot];
        forgetCard(readerSlot);
        closeChipSet(slot.chips);
        slot.chips = card;
        slot.directory.clear();
        return kDone;
    } catch (...) {
        return CARDFS_E_IO;
    }
}

KVS_API int16_t KVS_InsertCardDirectory(int16_t readerSlot, const char *directory) {
    if (readerSlot < 0 || readerSlot >= kReaderSlots || !directory || !*directory) return CARDFS_E_ARGUMENT;
    try {
        const std::string dir = directory;
        if (!isDirectory(dir) && !makeHostDirectory(dir)) return CARDFS_E_IO;
        ReaderSlot &slot = state().reader[readerSlot];
        forgetCard(readerSlot);
        closeChipSet(slot.chips);
        slot.directory = dir;
        return kDone;
    } catch (...) {
        return CARDFS_E_IO;
    }
}

KVS_API int16_t KVS_RemoveCard(int16_t readerSlot) {
    if (readerSlot < 0 || readerSlot >= kReaderSlots) return CARDFS_E_ARGUMENT;
    ReaderSlot &slot = state().reader[readerSlot];
    forgetCard(readerSlot);
    closeChipSet(slot.chips);
    slot.directory.clear();
    return kDone;
}

}  // extern "C"
