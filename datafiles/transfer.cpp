// Transfer heads: format byte, date/time record and start record, written
// by the save starts and read by the load starts, which set the transfer
// state that every record reader and writer consults.
#include "datafiles/transfer.h"

namespace cardfs {
namespace {

constexpr uint8_t kFormat = 5;  // the format byte this library writes

// Codes of the load-start selectors 1..16 (9 is not a selector):
// {secondaryCode, primaryCode}.
const int16_t kSelectorCodes[17][2] = {{0, 0},  {0, 1},  {3, 6},  {0, 4},  {1, 0},  {0, 2},
                                       {0, 3},  {0, 5},  {2, 0},  {0, 0},  {1, 10}, {0, 11},
                                       {2, 12}, {4, 13}, {5, 14}, {6, 15}, {7, 16}};

enum DateTime { kTime1, kTime2, kYear, kDate1, kDate2, kDateTimeCount };

void date_time_defaults(int16_t out[kDateTimeCount]) {
    const int16_t defaults[kDateTimeCount] = {0, 0, 80, 1, 1};
    for (int i = 0; i < kDateTimeCount; i++) out[i] = defaults[i];
}

// Reads the format byte and sets recordEnd; false for a byte outside 0..5.
bool read_format(int16_t handle) {
    int16_t c = read_byte(handle);
    g_transfer.fileFormat = uint16_t(c);
    if (c < 0 || c > 5) return false;
    g_transfer.recordEnd = c != 0 ? 0xFF : 0x00;
    return true;
}

// The date/time record: three optional fields, no record end after them.
// A record-end byte is recognised only in place of the first field.
// Returns false when the record is malformed.
bool read_date_time(int16_t handle, int16_t out[kDateTimeCount]) {
    const int16_t absent = g_transfer.fileFormat != 0 ? 0x00 : 0xFF;
    date_time_defaults(out);
    int16_t b = read_byte(handle);
    if (b == int16_t(g_transfer.recordEnd) && b != absent) return true;
    if (b == 2) {
        out[kTime1] = read_byte(handle);
        out[kTime2] = read_byte(handle);
    } else if (b != kEnd && b != absent) {
        return false;
    }
    b = read_byte(handle);
    if (b == 1)
        out[kYear] = read_byte(handle);
    else if (b != kEnd && b != absent)
        return false;
    b = read_byte(handle);
    if (b == 2) {
        out[kDate1] = read_byte(handle);
        out[kDate2] = read_byte(handle);
    } else if (b != kEnd && b != absent) {
        return false;
    }
    return true;
}

// The start record of format 5: flags1 (bit 7 clear: quarter units; bit 5:
// text2 early), value16 (dropped), flags2 (bit 5: flags1 bit 5 declared),
// value32.
int16_t read_start_record(const FieldReader &in, LoadStartInfo *info) {
    const int16_t widths[4] = {1, 2, 1, 4};
    uint32_t value[4] = {0, 0, 0, 0};
    bool present[4] = {false, false, false, false};
    for (int i = 0; i < 4; i++) {
        int16_t st = read_number(in, widths[i], &value[i], &present[i]);
        if (st == kRecordComplete) return kOk;
        if (st != 0) return st;
        if (i == 0 && present[0]) g_transfer.scaleByFour = (value[0] & 0x80) ? 0 : 1;
        if (i == 2 && present[2] && (value[2] & 0x20)) g_transfer.merTextLayout = (value[0] & 0x20) ? 1 : 0;
        if (i == 3 && present[3]) info->value32 = value[3];
    }
    return skip_to_record_end(in) == kEnd ? int16_t(CARDFS_E_EOF) : kOk;
}

int16_t save_start(int16_t handle, const uint8_t *dateTime, int32_t count, const HeaderFileStructure *h) {
    if (h == nullptr) return CARDFS_E_ARGUMENT;
    int16_t st = put_bytes(handle, &kFormat, 1);
    if (st == kOk) st = put_bytes(handle, dateTime, count);
    if (st != kOk) return st;
    g_transfer.merTextLayout = (h->flags2 & 0x20) ? uint16_t((h->flags1 >> 5) & 1) : 1;
    const uint8_t flags1[2] = {1, h->flags1}, flags2[2] = {1, h->flags2}, end = 0xFF;
    if ((st = put_bytes(handle, flags1, 2)) != kOk) return st;
    if ((st = put_int_field(handle, h->value16)) != kOk) return st;
    if ((st = put_bytes(handle, flags2, 2)) != kOk) return st;
    if ((st = put_dword_field(handle, h->value32)) != kOk) return st;
    return put_bytes(handle, &end, 1);
}

}  // namespace
}  // namespace cardfs

using namespace cardfs;

extern "C" CARDFS_API HeaderFileStructure *P2C_InitHeaderFileStructure(HeaderFileStructure *h) {
    if (h == nullptr) return nullptr;
    h->size = sizeof(HeaderFileStructure);
    h->flags1 = 0xC0;
    h->value16 = 0x7FFF;
    h->flags2 = 0xC0;
    h->value32 = 0;
    return h;
}

extern "C" CARDFS_API int16_t P2C_Do_Save_Start(int16_t handle, HeaderFileStructure *header) {
    static const uint8_t kNoDateTime[3] = {0, 0, 0};
    return save_start(handle, kNoDateTime, 3, header);
}

extern "C" CARDFS_API int16_t P2C_Do_Save_Start_DateTime(int16_t handle, int16_t timeByte1, int16_t timeByte2,
                                                         int16_t yearByte, int16_t dateByte1, int16_t dateByte2,
                                                         HeaderFileStructure *header) {
    const uint8_t record[8] = {2, uint8_t(timeByte1), uint8_t(timeByte2), 1, uint8_t(yearByte),
                               2, uint8_t(dateByte1), uint8_t(dateByte2)};
    return save_start(handle, record, 8, header);
}

extern "C" CARDFS_API int16_t C2P_Get_DateTime(int16_t handle, int16_t *timeByte1, int16_t *timeByte2,
                                               int16_t *yearByte, int16_t *dateByte1, int16_t *dateByte2) {
    int16_t *out[kDateTimeCount] = {timeByte1, timeByte2, yearByte, dateByte1, dateByte2};
    for (int16_t *p : out)
        if (p == nullptr) return CARDFS_E_ARGUMENT;
    if (!read_format(handle)) return CARDFS_R_BAD_FORMAT;
    int16_t values[kDateTimeCount];
    bool wellFormed = read_date_time(handle, values);
    for (int i = 0; i < kDateTimeCount; i++) *out[i] = values[i];
    return wellFormed ? take_pending_status() : kFieldLength;
}

extern "C" CARDFS_API int16_t C2P_Do_Load_StartEx(int16_t handle, int16_t selector, int16_t *secondaryCode,
                                                  int16_t *primaryCode, LoadStartInfo *info) {
    if (info == nullptr || primaryCode == nullptr || secondaryCode == nullptr) return CARDFS_E_ARGUMENT;
    info->value32 = 0;
    int16_t dateTime[kDateTimeCount];
    date_time_defaults(dateTime);
    info->timeByte1 = dateTime[kTime1], info->timeByte2 = dateTime[kTime2], info->yearByte = dateTime[kYear];
    info->dateByte1 = dateTime[kDate1], info->dateByte2 = dateTime[kDate2];
    if (selector < 1 || selector > 16 || selector == 9) return CARDFS_R_BAD_SELECTOR;
    *secondaryCode = kSelectorCodes[selector][0];
    *primaryCode = kSelectorCodes[selector][1];
    if (!read_format(handle)) return CARDFS_R_BAD_FORMAT;
    int16_t pending = take_pending_status();
    if (pending != kOk) return pending;
    if (g_transfer.fileFormat != 0 && !read_date_time(handle, dateTime)) return kFieldLength;
    g_transfer.merLayoutSeen = 0;
    g_transfer.scaleByFour = 0;
    g_transfer.merTextLayout = 2;
    const FieldReader in = transfer_reader(handle);
    if (g_transfer.fileFormat == kFormat) return read_start_record(in, info);
    if (read_byte(handle) == in.recordEnd) return kOk;
    return skip_to_record_end(in) == kEnd ? int16_t(CARDFS_E_EOF) : kOk;
}

extern "C" CARDFS_API int16_t C2P_Do_Load_Start(int16_t handle, int16_t selector, int16_t *secondaryCode,
                                                int16_t *primaryCode) {
    LoadStartInfo scratch;
    return C2P_Do_Load_StartEx(handle, selector, secondaryCode, primaryCode, &scratch);
}
