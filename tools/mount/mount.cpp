// The FUSE file system over the mounted volume. Files are written once: a
// new name is created, written from its start to its end and committed
// when its last descriptor is closed; an existing file cannot be opened
// for writing (EPERM) and a name that exists cannot be created (EEXIST).
// A write that fails leaves no file behind: the write and the close
// report the failure, and the library discards the file. The one failure
// a program cannot see is that of the commit itself (the file's last
// block, written after the last close returned): the file is then
// discarded as well, and absent from the listing.
#define FUSE_USE_VERSION 31
#include "mount.h"

#include <fuse.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "cardfs.h"
#include "mount_errno.h"
#include "mount_files.h"

namespace tool {
namespace {

using mount::FileFacts;
using mount::OpenFile;

time_t g_mountedAt;

// "/NAME.EXT" to "NAME.EXT"; empty for the root or a deeper path.
std::string fileName(const char *path) {
    std::string name = path[0] == '/' ? path + 1 : path;
    return name.find('/') == std::string::npos ? name : std::string();
}

void fillStat(struct stat *st, mode_t mode, off_t size, uint16_t blocks) {
    std::memset(st, 0, sizeof *st);
    st->st_mode = mode;
    st->st_nlink = S_ISDIR(mode) ? 2 : 1;
    st->st_size = size;
    st->st_blocks = static_cast<blkcnt_t>(blocks) * FS_BlockSize() / 512;
    st->st_blksize = FS_BlockSize();
    st->st_mtime = st->st_atime = st->st_ctime = g_mountedAt;
}

int opGetattr(const char *path, struct stat *st, fuse_file_info *) {
    if (std::strcmp(path, "/") == 0) {
        fillStat(st, S_IFDIR | 0755, 0, 0);
        return 0;
    }
    int error = 0;
    const FileFacts *facts = mount::lookup(fileName(path), &error);
    if (!facts) return error;
    fillStat(st, S_IFREG | 0644, facts->size, facts->blocks);
    return 0;
}

int opReaddir(const char *, void *buf, fuse_fill_dir_t fill, off_t, fuse_file_info *, fuse_readdir_flags) {
    if (const int error = mount::refreshListing()) return error;
    fill(buf, ".", nullptr, 0, FUSE_FILL_DIR_PLUS);
    fill(buf, "..", nullptr, 0, FUSE_FILL_DIR_PLUS);
    for (const auto &[name, facts] : mount::listing()) fill(buf, name.c_str(), nullptr, 0, FUSE_FILL_DIR_PLUS);
    return 0;
}

int opOpen(const char *path, fuse_file_info *fi) {
    if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EPERM;  // written once, at creation
    const int slot = mount::freeSlot();
    if (slot < 0) return -EMFILE;
    const std::string name = fileName(path);
    const int16_t handle = FS_OpenR(name.c_str());
    if (handle < 0) return -statusErrno(handle);
    mount::openFile(slot) = OpenFile{handle, name, 0, false, CARDFS_OK};
    fi->fh = static_cast<uint64_t>(slot);
    return 0;
}

int opCreate(const char *path, mode_t, fuse_file_info *fi) {
    const int slot = mount::freeSlot();
    if (slot < 0) return -EMFILE;
    const std::string name = fileName(path);
    const int16_t handle = FS_OpenW(name.c_str());
    if (handle < 0) return -statusErrno(handle);
    mount::openFile(slot) = OpenFile{handle, name, 0, true, CARDFS_OK};
    FileFacts facts;
    facts.sized = true;
    mount::remember(name, facts);
    fi->fh = static_cast<uint64_t>(slot);
    return 0;
}

int opRead(const char *, char *buf, size_t size, off_t offset, fuse_file_info *fi) {
    const OpenFile &file = mount::openFile(static_cast<int>(fi->fh));
    int error = 0;
    const FileFacts *facts = mount::lookup(file.name, &error);
    if (!facts) return error;
    return mount::readAt(static_cast<int>(fi->fh), buf, static_cast<uint32_t>(size),
                         static_cast<uint32_t>(offset), facts->size);
}

int opWrite(const char *, const char *buf, size_t size, off_t offset, fuse_file_info *fi) {
    OpenFile &file = mount::openFile(static_cast<int>(fi->fh));
    if (!file.writing) return -EBADF;
    if (file.status != CARDFS_OK) return -statusErrno(file.status);
    if (static_cast<uint64_t>(offset) != file.position) return -EPERM;  // from the start to the end only
    const int16_t st = FS_WriteFileEx(file.handle, buf, static_cast<uint32_t>(size));
    if (st != CARDFS_OK) {
        file.status = st;
        return -statusErrno(st);
    }
    file.position += static_cast<uint32_t>(size);
    FileFacts facts;
    facts.size = file.position;
    facts.sized = true;
    mount::remember(file.name, facts);
    return static_cast<int>(size);
}

// Commits a file being written, at its release: a flush comes at every
// close of a descriptor, also of a duplicate that does not end the writing.
int closeWriting(OpenFile &file) {
    if (!file.writing || file.handle < 0) return 0;
    const int16_t closed = FS_CloseW(file.handle);  // drops the file after a failed write
    file.handle = mount::kBroken;
    if (file.status != CARDFS_OK || closed != CARDFS_OK) {
        mount::forget(file.name);
        return -statusErrno(file.status != CARDFS_OK ? file.status : closed);
    }
    return mount::refreshListing();  // its block count
}

// A close reports a write that failed; the file is dropped at its release.
int opFlush(const char *, fuse_file_info *fi) {
    const OpenFile &file = mount::openFile(static_cast<int>(fi->fh));
    return file.writing && file.status != CARDFS_OK ? -statusErrno(file.status) : 0;
}

int opRelease(const char *, fuse_file_info *fi) {
    OpenFile &file = mount::openFile(static_cast<int>(fi->fh));
    const int result = closeWriting(file);
    if (!file.writing && file.handle >= 0) FS_CloseR(file.handle);
    file = OpenFile{};
    return result;
}

bool isOpen(const std::string &name) {
    for (int slot = 0; slot < mount::kSlots; slot++)
        if (mount::openFile(slot).handle != mount::kFree && mount::openFile(slot).name == name) return true;
    return false;
}

int opUnlink(const char *path) {
    const std::string name = fileName(path);
    if (isOpen(name)) return -EBUSY;
    const int16_t st = FS_Delete(name.c_str());
    if (st != CARDFS_OK) return -statusErrno(st);
    mount::forget(name);
    return 0;
}

int opRename(const char *from, const char *to, unsigned int flags) {
    if (flags & RENAME_EXCHANGE) return -EINVAL;
    const std::string oldName = fileName(from), newName = fileName(to);
    if (isOpen(oldName)) return -EBUSY;
    const int16_t st = FS_Rename(oldName.c_str(), newName.c_str());
    if (st != CARDFS_OK) return -statusErrno(st);
    return mount::refreshListing();
}

// Only a file's own length is accepted: nothing is rewritten.
int opTruncate(const char *path, off_t size, fuse_file_info *) {
    int error = 0;
    const FileFacts *facts = mount::lookup(fileName(path), &error);
    if (!facts) return error;
    return static_cast<uint64_t>(size) == facts->size ? 0 : -EPERM;
}

// The volume keeps no times: setting them is accepted and changes nothing.
int opUtimens(const char *path, const struct timespec[2], fuse_file_info *) {
    struct stat st;
    return opGetattr(path, &st, nullptr);
}

int opStatfs(const char *, struct statvfs *sv) {
    std::memset(sv, 0, sizeof *sv);
    sv->f_bsize = sv->f_frsize = FS_BlockSize();
    sv->f_blocks = static_cast<fsblkcnt_t>(FS_TotalBlocks());
    sv->f_bfree = sv->f_bavail = static_cast<fsblkcnt_t>(FS_BlocksFree());
    sv->f_files = mount::listing().size();
    sv->f_namemax = 12;  // NAME.EXT
    return 0;
}

void *opInit(fuse_conn_info *, fuse_config *config) {
    config->use_ino = 0;
    config->direct_io = 1;  // reads and writes reach us as the program makes them
    return nullptr;
}

fuse_operations operations() {
    fuse_operations ops{};
    ops.init = opInit;
    ops.getattr = opGetattr;
    ops.readdir = opReaddir;
    ops.open = opOpen;
    ops.create = opCreate;
    ops.read = opRead;
    ops.write = opWrite;
    ops.flush = opFlush;
    ops.release = opRelease;
    ops.unlink = opUnlink;
    ops.rename = opRename;
    ops.truncate = opTruncate;
    ops.utimens = opUtimens;
    ops.statfs = opStatfs;
    return ops;
}

}  // namespace

int serveMount(const MountOptions &options) {
    g_mountedAt = std::time(nullptr);
    std::vector<std::string> args = {"cardfs", options.mountpoint, "-s", "-o", "fsname=cardfs,subtype=cardfs"};
    if (options.foreground) args.push_back("-f");
    if (options.debug) args.push_back("-d");
    std::vector<char *> argv;
    for (auto &arg : args) argv.push_back(arg.data());
    const fuse_operations ops = operations();
    if (const int error = mount::refreshListing()) return -error;
    return fuse_main(static_cast<int>(argv.size()), argv.data(), &ops, nullptr);
}

}  // namespace tool
