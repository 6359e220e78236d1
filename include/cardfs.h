/* cardfs — the whole interface: devices and volumes, directories and files,
 * tag streams and raw files, field-data files, the drivers of the card
 * programmer and the media reader, and the volume check and repair. */
#ifndef CARDFS_H
#define CARDFS_H

#include "cardfs_export.h"
#include "cardfs_volume.h"
#include "cardfs_files.h"
#include "cardfs_records.h"
#include "cardfs_datafiles.h"
#include "cardfs_drivers.h"
#include "cardfs_repair.h"

#endif
