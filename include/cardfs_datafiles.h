/* cardfs — field-data files: transfer heads, MER, track, line and area
 * records.
 *
 * Every structured file is a run of records made of fields: a length byte
 * and that many data bytes (0 = absent value), the record closed by 0xFF
 * (0x00 in files whose format byte is 0). Files that go to a card (P2C_*)
 * start with P2C_Do_Save_Start; files that come from one (C2P_*) are opened
 * with C2P_Do_Load_Start(Ex), which also sets the process-wide transfer
 * state (record-end byte, format, coordinate scaling, place of the second
 * MER text) that every record reader and writer uses. One transfer at a
 * time per process.
 *
 * Loader results: -1 a record was loaded; 512 a MER record at the null
 * position; 128 no further record; 8 a field of the wrong length; -57 the
 * file ended inside a record; 1 bad selector and 4 bad format byte (load
 * start); any status the byte layer left pending. The readers take that
 * status with GetErrno() after their fields, which resets it to -1: the
 * reason is the loader's result, and a failure left by an earlier call
 * comes back from the next loader (call GetErrno() first to drop it).
 *
 * Choices this library makes where the format leaves room:
 *  - A null record or output pointer gives -103 from every function here
 *    (the init functions ignore it).
 *  - P2C_MER_File_Add_Data writes a negative time other than -1 as an
 *    absent time stamp and leaves year and seconds alone.
 *  - With the MER text layout undeclared (neither early nor late) the
 *    writer puts text2 nowhere, as the format says.
 *  - A line or area header whose record end comes early (records of other
 *    origin may be shortened) is complete: the loader returns -1 at once,
 *    the missing members left at 0, and nothing of the next record is read.
 *  - Times are composed as local time and broken down as UTC; both follow
 *    the process's TZ setting and a 32-bit count of seconds from 1970.
 *    The loader composes MER stamps as mktime would, but reads the zone
 *    again only when TZ has changed, which it checks for every record (no
 *    tzset call is needed): with TZ unset, a change of the system's own
 *    zone while the process runs is not sure to be seen.
 */
#ifndef CARDFS_DATAFILES_H
#define CARDFS_DATAFILES_H

#include <stdint.h>
#include "cardfs_export.h"

CARDFS_BEGIN_DECLS

/* Result codes of the loaders, besides the statuses. */
#define CARDFS_R_BAD_SELECTOR 1
#define CARDFS_R_BAD_FORMAT 4
#define CARDFS_R_FIELD_LENGTH 8
#define CARDFS_R_NO_RECORD 128
#define CARDFS_R_NULL_POSITION 512

typedef struct MERStructure {
    uint8_t size;     /* 128 */
    int32_t coord1;
    int32_t coord2;
    char text1[40];
    char text2[40];
    int8_t byte1;
    int16_t word1;
    int8_t byte2;
    int8_t byte3;
    int8_t byte4;
    int32_t time;     /* seconds since 1970-01-01 00:00 UTC; -1 none */
    int8_t byte5;
    int16_t word2;
    int8_t byte6;
    uint32_t dword1;
    int8_t byte7;
    int16_t word3;
    uint16_t year;
    uint8_t flag;     /* 0, 1, or 0xFF unknown */
    int16_t word4;
    uint8_t seconds;
} MERStructure;

typedef struct TrackStructure {
    uint8_t size;     /* 36 */
    int32_t coord1;
    int32_t coord2;
    int8_t byte1;
    int8_t byte2;     /* 0: this record is a break */
    int8_t byte3;
    int8_t byte4;
    int16_t word1;
    uint32_t dword1;
    uint16_t word2;
    uint32_t dword2;
    uint16_t word3;
    uint16_t word4;
} TrackStructure;

typedef struct HeaderFileStructure {
    uint8_t size;     /* 12 */
    uint8_t flags1;   /* bit 7 clear: coordinates in quarter units; bit 5: text2 early */
    uint16_t value16;
    uint8_t flags2;   /* bit 5: flags1 bit 5 is declared */
    uint32_t value32;
} HeaderFileStructure;

typedef struct LoadStartInfo {
    uint32_t value32;
    int16_t timeByte1;
    int16_t timeByte2;
    int16_t yearByte;
    int16_t dateByte1;
    int16_t dateByte2;
} LoadStartInfo;

typedef struct LineHeader {
    char name[32];
    int16_t lineId;   /* must not be 0 for saving */
    uint8_t lineByte;
    uint32_t lineValue;
    uint16_t lineWords[6];
} LineHeader;

typedef struct AreaHeader {
    LineHeader line;
    uint16_t areaWords[4];
    uint16_t areaTable[16];
} AreaHeader;

typedef struct AreaData {
    uint32_t dataValue1;
    uint32_t dataValue2;
} AreaData;

/* The records' sizes are part of the format (the first byte of the first
 * three holds it); a compiler that lays them out otherwise stops here. */
typedef char cardfs_mer_size_check[sizeof(MERStructure) == 128 ? 1 : -1];
typedef char cardfs_track_size_check[sizeof(TrackStructure) == 36 ? 1 : -1];
typedef char cardfs_header_size_check[sizeof(HeaderFileStructure) == 12 ? 1 : -1];

/* Transfer heads. */
CARDFS_API HeaderFileStructure *P2C_InitHeaderFileStructure(HeaderFileStructure *header);
CARDFS_API int16_t P2C_Do_Save_Start(int16_t handle, HeaderFileStructure *header);
CARDFS_API int16_t P2C_Do_Save_Start_DateTime(int16_t handle, int16_t timeByte1, int16_t timeByte2,
                                              int16_t yearByte, int16_t dateByte1, int16_t dateByte2,
                                              HeaderFileStructure *header);
CARDFS_API int16_t C2P_Do_Load_StartEx(int16_t handle, int16_t selector, int16_t *secondaryCode,
                                       int16_t *primaryCode, LoadStartInfo *info);
CARDFS_API int16_t C2P_Do_Load_Start(int16_t handle, int16_t selector, int16_t *secondaryCode,
                                     int16_t *primaryCode);
CARDFS_API int16_t C2P_Get_DateTime(int16_t handle, int16_t *timeByte1, int16_t *timeByte2, int16_t *yearByte,
                                    int16_t *dateByte1, int16_t *dateByte2);

/* MER records. */
CARDFS_API void P2C_InitMERStructure(MERStructure *mer);
CARDFS_API int16_t P2C_MER_File_Add_Data(int16_t handle, MERStructure *mer);
CARDFS_API int16_t C2P_LoadFileOfMER(int16_t handle, MERStructure *mer);

/* Track records. */
CARDFS_API void P2C_InitTrackStructure(TrackStructure *track);
CARDFS_API int16_t P2C_Track_File_Add_Data(int16_t handle, TrackStructure *track);
CARDFS_API int16_t P2C_Create_File_Add_Break(int16_t handle);
CARDFS_API int16_t C2P_LoadFileOfTrack(int16_t handle, TrackStructure *track);

/* Line and area records; the line and area data functions are one each. */
CARDFS_API void FS_InitLineHeader(LineHeader *header);
CARDFS_API void FS_InitAreaHeader(AreaHeader *header);
CARDFS_API void FS_InitAreaData(AreaData *data);
CARDFS_API void FS_InitLineData(AreaData *data);
CARDFS_API int16_t FS_SaveLineHeader(int16_t handle, LineHeader *header);
CARDFS_API int16_t FS_SaveAreaHeader(int16_t handle, AreaHeader *header);
CARDFS_API int16_t FS_SaveAreaData(int16_t handle, AreaData *data);
CARDFS_API int16_t FS_SaveLineData(int16_t handle, AreaData *data);
CARDFS_API int16_t FS_LoadLineHeader(int16_t handle, LineHeader *header);
CARDFS_API int16_t FS_LoadAreaHeader(int16_t handle, AreaHeader *header);
CARDFS_API int16_t FS_LoadAreaData(int16_t handle, AreaData *data);
CARDFS_API int16_t FS_LoadLineData(int16_t handle, AreaData *data);

CARDFS_END_DECLS

#endif
