// The library's statuses as errno values a shell user understands.
#pragma once

#include <cerrno>
#include <cstdint>

#include "cardfs.h"

namespace tool {

inline int statusErrno(int32_t status) {
    switch (status) {
    case CARDFS_E_DIR_FULL:
    case CARDFS_E_MEDIUM_FULL: return ENOSPC;
    case CARDFS_E_NOT_FOUND: return ENOENT;
    case CARDFS_E_EXISTS: return EEXIST;
    case CARDFS_E_NO_VOLUME:
    case CARDFS_E_NO_DEVICE:
    case CARDFS_E_NO_MEDIUM_KIND: return ENODEV;
    case CARDFS_E_WRITE_PROTECTED: return EROFS;
    case CARDFS_E_NO_RECORD: return EMFILE;
    case CARDFS_E_WRITING: return EBUSY;
    case CARDFS_E_CROSS_DEVICE: return EXDEV;
    case CARDFS_E_NAME_DEVICE:
    case CARDFS_E_ARGUMENT:
    case CARDFS_E_RANGE: return EINVAL;
    case CARDFS_E_NOT_OPEN: return EBADF;
    default: return EIO;
    }
}

}  // namespace tool
