/* cardfs — the whole interface: devices and volumes, directories and files,
 * tag streams and raw files, field-data files, and the drivers of the card
 * programmer and the media reader. */
#ifndef CARDFS_H
#define CARDFS_H

#include "cardfs_export.h"
#include "cardfs_volume.h"
#include "cardfs_files.h"
#include "cardfs_records.h"
#include "cardfs_datafiles.h"
#include "cardfs_drivers.h"

#endif
