/* cardfs — tag streams and raw files.
 *
 * A tag stream is a run of numbered values checked against a fixed table of
 * 38 tags (kind, range, scale), closed by the end tag FF FF. A raw file is a
 * four-field header record followed by bytes the library does not look at.
 * Both work on files opened with FS_OpenW / FS_OpenR.
 *
 * Results: -1 success; -103 a null record or a tag number outside the
 * table (saving); -104 a wrong kind or a value out of range; 128 the end
 * tag (FS_ReadTag) or a raw header without its record end; 8 a raw header
 * field of the wrong length; failures of the byte layer unchanged. The
 * library's own results are not stored in the status variable.
 *
 * A raw file has no transfer head, so FS_RawReadHeader reads its header
 * with the record end 0xFF that every raw header is written with, whatever
 * transfer ran before (after a format-0 load start the record end would
 * otherwise be 0x00 and no header would ever end).
 */
#ifndef CARDFS_RECORDS_H
#define CARDFS_RECORDS_H

#include <stdint.h>
#include "cardfs_export.h"

CARDFS_BEGIN_DECLS

typedef struct TagRecord {
    uint16_t tagNumber; /* 0..37; 0xFFFF is the end tag when reading */
    uint32_t tagValue;  /* in its low bytes, by the tag's kind */
} TagRecord;

typedef struct TagInfo {
    uint8_t tagType;   /* 1 long, 2 word, 3 byte, 4 float; +0x80 signed */
    uint32_t tagMin;
    uint32_t tagMax;
    uint16_t tagScale; /* divisor of float tags, 1 otherwise */
} TagInfo;

typedef struct RawHeader {
    int32_t rawKind;   /* -1: absent; 1: the header carries rawParam */
    uint32_t rawValue; /* 0xFFFFFFFF: absent */
    uint16_t rawParam;
} RawHeader;

#define CARDFS_TAG_COUNT 38
#define CARDFS_TAG_END 0xFFFFu

CARDFS_API TagRecord *FS_InitTag(TagRecord *tag);
CARDFS_API int16_t FS_GetTagInfo(uint16_t number, TagInfo *info);
/* 1 when value is allowed for the tag, else 0. */
CARDFS_API uint8_t FS_CheckTagRange(uint16_t number, uint32_t value);
CARDFS_API int16_t FS_SaveByteTag(int16_t handle, TagRecord *tag);
CARDFS_API int16_t FS_SaveWordTag(int16_t handle, TagRecord *tag);
CARDFS_API int16_t FS_SaveLongTag(int16_t handle, TagRecord *tag);
CARDFS_API int16_t FS_SaveFloatTag(int16_t handle, TagRecord *tag);
CARDFS_API int16_t FS_SaveEndTag(int16_t handle);
CARDFS_API int16_t FS_ReadTag(int16_t handle, TagRecord *tag);

CARDFS_API RawHeader *FS_InitRawHeader(RawHeader *header);
CARDFS_API int16_t FS_RawWriteHeader(int16_t handle, RawHeader *header);
CARDFS_API int16_t FS_RawReadHeader(int16_t handle, RawHeader *header);
CARDFS_API int16_t FS_RawWrite(int16_t handle, const void *buffer, uint32_t count);
CARDFS_API int16_t FS_RawRead(int16_t handle, void *buffer, uint32_t count);

CARDFS_END_DECLS

#endif
