// Internal interface of the field-data files: the state of the current
// transfer, which the load and save starts set and every record reader and
// writer consults.
#pragma once

#include <stdint.h>
#include <time.h>

#include "codec/codec.h"

namespace cardfs {

// ---- the transfer's state ----
// One transfer is read or written at a time per process.
// recordEnd      0xFF, or 0x00 for format byte 0. Set by the load starts
//                (C2P_Do_Load_Start(Ex), C2P_Get_DateTime) from the format
//                byte; 0 before the first.
// fileFormat     The format byte read, 0..5 (0xFFFF when unreadable).
// scaleByFour    Coordinates come in quarter units. Reset by each load start,
//                set from the start record.
// merTextLayout  Place of the second MER text: 1 early, 0 late, 2 not
//                declared (guessed per record). Set by the load and save
//                starts.
// merLayoutSeen  The layout the last MER record was read in, for guessing
//                the next: 0 none, 1 early, 2 late. Reset by each load start.
struct TransferState {
    uint16_t recordEnd;
    uint16_t fileFormat;
    uint16_t scaleByFour;
    uint16_t merTextLayout;
    uint16_t merLayoutSeen;
};
inline TransferState g_transfer = {0, 0, 0, 0, 0};

// A reader of the current transfer's records on handle.
inline FieldReader transfer_reader(int16_t handle) { return {handle, int16_t(g_transfer.recordEnd)}; }

// ---- time (stamps of MER records, time.cpp) ----
// Reads the time-zone settings again when TZ has changed since the last
// call; once before the conversions of a record.
void refresh_local_zone();
// mktime of a local broken-down time, tm_isdst taken as mktime takes it;
// -1 outside a non-negative 32-bit count of seconds. Normalises *tm as
// mktime does, tm_isdst included.
int32_t make_time_local(struct tm *tm);
// The same time value, leaving the broken-down time as it is.
int32_t local_time_value(const struct tm &tm);
// gmtime; false for a negative time.
bool break_time_utc(int32_t time, struct tm *out);

}  // namespace cardfs
