#include "mount_files.h"

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <utility>

#include "cardfs.h"
#include "mount_errno.h"

namespace tool::mount {
namespace {

std::map<std::string, FileFacts> g_files;
OpenFile g_open[kSlots];
DirScan g_scan;

// Bytes left in the block the handle stands in; at the end of the last
// block, 0 and *atEnd.
uint32_t waitingInBlock(int16_t handle, bool *atEnd) {
    const FileInfo *info = FS_FileInfo(handle);
    const int waiting = info->limit - info->position;
    *atEnd = waiting <= 0 && (info->buffer[1] & 0x80) != 0;  // link word bit 15: last block
    return waiting > 0 ? static_cast<uint32_t>(waiting) : 0;
}

// Reads up to count bytes (into out when not null); the bytes read, or
// -errno. Runs within a block go in one call; one FS_Getc steps on.
long readUpTo(int16_t handle, char *out, uint32_t count) {
    static char scratch[1024];
    uint32_t done = 0;
    while (done < count) {
        bool atEnd = false;
        const uint32_t run = std::min(waitingInBlock(handle, &atEnd), count - done);
        if (atEnd) break;
        if (run > 0) {
            const int16_t st = FS_ReadFileEx(handle, out ? out + done : scratch, run);
            if (st != CARDFS_OK) return -statusErrno(st);
            done += run;
            continue;
        }
        const int16_t byte = FS_Getc(handle);
        if (byte < 0) {
            const int32_t st = GetErrno();
            if (st == CARDFS_E_EOF) break;
            return -statusErrno(st);
        }
        if (out) out[done] = static_cast<char>(byte);
        done++;
    }
    return static_cast<long>(done);
}

int measure(const std::string &name, FileFacts &facts) {
    const int16_t handle = FS_OpenR(name.c_str());
    if (handle < 0) return -statusErrno(handle);
    const long size = readUpTo(handle, nullptr, UINT32_MAX);
    FS_CloseR(handle);
    if (size < 0) return static_cast<int>(size);
    facts.size = static_cast<uint32_t>(size);
    facts.sized = true;
    return 0;
}

}  // namespace

int refreshListing() {
    std::map<std::string, FileFacts> now;
    int16_t st = FS_OpenDir(nullptr, &g_scan);
    while (st == CARDFS_OK && (st = FS_ReadDir(&g_scan)) == CARDFS_OK) {
        DirEntry entry;
        if ((st = FS_GetDirEntry(&g_scan, &entry)) != CARDFS_OK) break;
        if (entry.extension == 0) continue;
        char name[16];
        BuildFileName(name, entry.name, static_cast<int16_t>(entry.extension));
        FileFacts facts;
        facts.blocks = entry.blockCount;
        const auto known = g_files.find(name);
        if (known != g_files.end() && known->second.blocks == facts.blocks) facts = known->second;
        now[name] = facts;
    }
    FS_CloseDir(&g_scan);
    if (st != CARDFS_E_NOT_FOUND) return -statusErrno(st);
    g_files = std::move(now);
    return 0;
}

const FileFacts *lookup(const std::string &name, int *error) {
    auto found = g_files.find(name);
    if (found == g_files.end()) {
        if ((*error = refreshListing()) != 0) return nullptr;
        found = g_files.find(name);
        if (found == g_files.end()) {
            *error = -ENOENT;
            return nullptr;
        }
    }
    if (!found->second.sized && (*error = measure(name, found->second)) != 0) return nullptr;
    return &found->second;
}

const std::map<std::string, FileFacts> &listing() { return g_files; }
void forget(const std::string &name) { g_files.erase(name); }
void remember(const std::string &name, const FileFacts &facts) { g_files[name] = facts; }

OpenFile &openFile(int slot) { return g_open[slot]; }

int freeSlot() {
    for (int slot = 0; slot < kSlots; slot++)
        if (g_open[slot].handle == kFree) return slot;
    return -1;
}

int readAt(int slot, char *out, uint32_t count, uint32_t offset, uint32_t size) {
    OpenFile &file = g_open[slot];
    if (file.handle < 0) return -EIO;
    if (offset >= size) return 0;
    if (offset < file.position) {  // back to the start: the library reads forwards only
        FS_CloseR(file.handle);
        const int16_t reopened = FS_OpenR(file.name.c_str());
        file.position = 0;
        if (reopened < 0) {
            file.handle = kBroken;
            return -statusErrno(reopened);
        }
        file.handle = reopened;
    }
    const int16_t h = file.handle;
    if (offset > file.position) {
        const long skipped = readUpTo(h, nullptr, offset - file.position);
        if (skipped < 0) return static_cast<int>(skipped);
        file.position += static_cast<uint32_t>(skipped);
    }
    const long got = readUpTo(h, out, std::min(count, size - offset));
    if (got < 0) return static_cast<int>(got);
    file.position += static_cast<uint32_t>(got);
    return static_cast<int>(got);
}

}  // namespace tool::mount
