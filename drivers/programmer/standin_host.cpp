// The host's file calls that differ between POSIX systems and Windows; the
// rest of the stand-in reaches backing files only through these. Files are
// plain descriptors on both, always binary, never inherited by children.
// On Windows they are opened with every sharing mode, deletion included,
// so that a backing file can be read, replaced or removed by the host
// while a card or cartridge holds it open, as on POSIX systems.
#include "standin.h"

#include <errno.h>
#include <sys/stat.h>
#include <time.h>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace kvs {

#if defined(_WIN32)

namespace {

// 100 ns units between 1601-01-01 and 1970-01-01.
constexpr uint64_t kEpochDifference = 11644473600ull * 10000000ull;

HANDLE handleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// Places the file pointer for the next transfer. A transfer placed by an
// OVERLAPPED instead is about ten times slower under Wine; the stand-in's
// calls never overlap, so the shared pointer does no harm.
bool seek(int fd, uint64_t offset) {
    LARGE_INTEGER to;
    to.QuadPart = LONGLONG(offset);
    return SetFilePointerEx(handleOf(fd), to, nullptr, FILE_BEGIN) != 0;
}

}  // namespace

int openHostFile(const std::string &path, HostAccess access, bool create) {
    // Attributes readable and writable in every mode: sizes and times.
    DWORD desired = FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
    int flags = _O_BINARY | _O_NOINHERIT;
    switch (access) {
    case HostAccess::Read: desired |= GENERIC_READ, flags |= _O_RDONLY; break;
    case HostAccess::Write: desired |= GENERIC_WRITE, flags |= _O_WRONLY; break;
    case HostAccess::ReadWrite: desired |= GENERIC_READ | GENERIC_WRITE, flags |= _O_RDWR; break;
    }
    const HANDLE h = CreateFileA(path.c_str(), desired, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return -1;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags);
    if (fd < 0) CloseHandle(h);
    return fd;
}

void closeHostFile(int fd) { _close(fd); }

int64_t hostFileSize(int fd) {
    LARGE_INTEGER size;
    return GetFileSizeEx(handleOf(fd), &size) ? int64_t(size.QuadPart) : -1;
}

bool resizeHostFile(int fd, uint32_t size) { return _chsize_s(fd, int64_t(size)) == 0; }

uint32_t readAt(int fd, uint32_t offset, void *buffer, uint32_t count) {
    uint8_t *to = static_cast<uint8_t *>(buffer);
    uint32_t done = 0;
    while (done < count) {
        DWORD n = 0;
        if (!seek(fd, uint64_t(offset) + done) || !ReadFile(handleOf(fd), to + done, DWORD(count - done), &n, nullptr) ||
            n == 0)
            break;
        done += uint32_t(n);
    }
    return done;
}

bool writeAt(int fd, uint32_t offset, const void *data, uint32_t count) {
    const uint8_t *from = static_cast<const uint8_t *>(data);
    uint32_t done = 0;
    while (done < count) {
        DWORD n = 0;
        if (!seek(fd, uint64_t(offset) + done) ||
            !WriteFile(handleOf(fd), from + done, DWORD(count - done), &n, nullptr) || n == 0)
            return false;
        done += uint32_t(n);
    }
    return true;
}

bool setHostFileTime(int fd, time_t seconds, long nanoseconds) {
    const uint64_t t = (uint64_t(seconds) * 10000000ull + kEpochDifference) + uint64_t(nanoseconds / 100);
    FILETIME ft;
    ft.dwLowDateTime = DWORD(t);
    ft.dwHighDateTime = DWORD(t >> 32);
    return SetFileTime(handleOf(fd), nullptr, &ft, &ft) != 0;
}

bool hostFileTime(int fd, time_t *seconds, long *nanoseconds) {
    FILETIME ft;
    if (!GetFileTime(handleOf(fd), nullptr, nullptr, &ft)) return false;
    const uint64_t t = (uint64_t(ft.dwHighDateTime) << 32 | ft.dwLowDateTime) - kEpochDifference;
    *seconds = time_t(t / 10000000ull);
    *nanoseconds = long(t % 10000000ull) * 100L;
    return true;
}

bool localHostTime(time_t t, struct tm *out) { return localtime_s(out, &t) == 0; }

bool makeHostDirectory(const std::string &path) { return _mkdir(path.c_str()) == 0; }

HostEntry hostEntryKind(const std::string &path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return HostEntry::None;
    if (attributes & (FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_REPARSE_POINT)) return HostEntry::Other;
    return attributes & FILE_ATTRIBUTE_DIRECTORY ? HostEntry::Directory : HostEntry::File;
}

bool hasHostEntry(const std::string &dir, const std::string &name, bool wantDirectory) {
    return hostEntryKind(dir + "/" + name) == (wantDirectory ? HostEntry::Directory : HostEntry::File);
}

std::string storedHostName(const std::string &dir, const std::string &name) {
    WIN32_FIND_DATAA found;
    const HANDLE h = FindFirstFileA((dir + "/" + name).c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return name;
    FindClose(h);
    return found.cFileName;
}

bool sameHostPath(const std::string &a, const std::string &b) { return _stricmp(a.c_str(), b.c_str()) == 0; }

#else  // POSIX

int openHostFile(const std::string &path, HostAccess access, bool create) {
    int flags = O_CLOEXEC | (create ? O_CREAT : 0);
    switch (access) {
    case HostAccess::Read: flags |= O_RDONLY; break;
    case HostAccess::Write: flags |= O_WRONLY; break;
    case HostAccess::ReadWrite: flags |= O_RDWR; break;
    }
    return open(path.c_str(), flags, 0666);
}

void closeHostFile(int fd) { close(fd); }

int64_t hostFileSize(int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 ? int64_t(st.st_size) : -1;
}

bool resizeHostFile(int fd, uint32_t size) { return ftruncate(fd, off_t(size)) == 0; }

uint32_t readAt(int fd, uint32_t offset, void *buffer, uint32_t count) {
    uint8_t *to = static_cast<uint8_t *>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = pread(fd, to + done, count - done, off_t(offset) + done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += uint32_t(n);
    }
    return done;
}

bool writeAt(int fd, uint32_t offset, const void *data, uint32_t count) {
    const uint8_t *from = static_cast<const uint8_t *>(data);
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = pwrite(fd, from + done, count - done, off_t(offset) + done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += uint32_t(n);
    }
    return true;
}

bool setHostFileTime(int fd, time_t seconds, long nanoseconds) {
    struct timespec stamps[2];
    stamps[0].tv_sec = stamps[1].tv_sec = seconds;
    stamps[0].tv_nsec = stamps[1].tv_nsec = nanoseconds;
    return futimens(fd, stamps) == 0;
}

bool hostFileTime(int fd, time_t *seconds, long *nanoseconds) {
    struct stat st;
    if (fstat(fd, &st) != 0) return false;
    *seconds = st.st_mtim.tv_sec;
    *nanoseconds = long(st.st_mtim.tv_nsec);
    return true;
}

bool localHostTime(time_t t, struct tm *out) { return localtime_r(&t, out) != nullptr; }

bool makeHostDirectory(const std::string &path) { return mkdir(path.c_str(), 0777) == 0; }

HostEntry hostEntryKind(const std::string &path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return HostEntry::None;
    return S_ISREG(st.st_mode) ? HostEntry::File : S_ISDIR(st.st_mode) ? HostEntry::Directory : HostEntry::Other;
}

bool hasHostEntry(const std::string &dir, const std::string &name, bool wantDirectory) {
    return hostEntryKind(dir + "/" + name) == (wantDirectory ? HostEntry::Directory : HostEntry::File);
}

std::string storedHostName(const std::string &, const std::string &name) { return name; }

bool sameHostPath(const std::string &a, const std::string &b) { return a == b; }

#endif

}  // namespace kvs
