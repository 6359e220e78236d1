/* cardfs — the whole interface: devices and volumes, directories and files. */
#ifndef CARDFS_H
#define CARDFS_H

#include "cardfs_export.h"
#include "cardfs_volume.h"
#include "cardfs_files.h"

#endif
