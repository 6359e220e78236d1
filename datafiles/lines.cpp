// Line and area records: a line header, an area header (the line part and
// twenty words) and a data record of two double words for either. Zero is
// an ordinary value here; only the all-ones sentinels are written empty.
#include <string.h>

#include "datafiles/transfer.h"

namespace cardfs {
namespace {

constexpr int16_t kNameCapacity = 32;

// lineByte goes zero-extended, so even 0xFF is written as a value.
void put_line_part(FieldWriter &w, const LineHeader *h) {
    w.text(h->name, sizeof h->name).word(uint16_t(h->lineId)).raw_byte(h->lineByte).dword(h->lineValue);
    w.words(h->lineWords, 6);
}

int16_t read_words(const FieldReader &in, uint16_t *words, int count) {
    int16_t st = 0;
    for (int i = 0; i < count && st == 0; i++) st = read_member(in, &words[i]);
    return st;
}

// kRecordComplete when the record ended inside the line part: a shortened
// record is complete, and nothing of the next record is consumed.
int16_t read_line_part(const FieldReader &in, LineHeader *h) {
    uint8_t field[kNameCapacity + 1];
    const int16_t r = read_field(in, field, kNameCapacity);
    int16_t st = check_field(in, r);
    if (st == 0) store_text(field, r, h->name, int32_t(sizeof h->name));
    if (st == 0) st = read_member(in, &h->lineId);
    if (st == 0) st = read_member(in, &h->lineByte);
    if (st == 0) st = read_member(in, &h->lineValue);
    if (st == 0) st = read_words(in, h->lineWords, 6);
    return st;
}

// The loader's result from the status of its last field: a record that
// ended is complete; after the last field the loader steps over whatever
// precedes the record end, except in format 0, where a record ends with
// its last field.
int16_t finish_record(const FieldReader &in, int16_t st) {
    if (st == kRecordComplete) return kOk;
    if (st != 0) return st;
    if (g_transfer.fileFormat == 0) return kOk;
    return skip_to_record_end(in) == kEnd ? kNoRecord : kOk;
}

}  // namespace
}  // namespace cardfs

using namespace cardfs;

extern "C" CARDFS_API void FS_InitLineHeader(LineHeader *header) {
    if (header != nullptr) memset(header, 0, sizeof *header);
}

extern "C" CARDFS_API void FS_InitAreaHeader(AreaHeader *header) {
    if (header != nullptr) memset(header, 0, sizeof *header);
}

extern "C" CARDFS_API void FS_InitAreaData(AreaData *data) {
    if (data == nullptr) return;
    data->dataValue1 = 0;
    data->dataValue2 = 0;
}

extern "C" CARDFS_API void FS_InitLineData(AreaData *data) { FS_InitAreaData(data); }

extern "C" CARDFS_API int16_t FS_SaveLineHeader(int16_t handle, LineHeader *header) {
    if (header == nullptr || header->lineId == 0) return CARDFS_E_ARGUMENT;
    FieldWriter w(handle);
    put_line_part(w, header);
    return w.end().status;
}

extern "C" CARDFS_API int16_t FS_SaveAreaHeader(int16_t handle, AreaHeader *header) {
    if (header == nullptr || header->line.lineId == 0) return CARDFS_E_ARGUMENT;
    FieldWriter w(handle);
    put_line_part(w, &header->line);
    return w.words(header->areaWords, 4).words(header->areaTable, 16).end().status;
}

extern "C" CARDFS_API int16_t FS_SaveAreaData(int16_t handle, AreaData *data) {
    if (data == nullptr) return CARDFS_E_ARGUMENT;
    FieldWriter w(handle);
    return w.dword(data->dataValue1).dword(data->dataValue2).end().status;
}

extern "C" CARDFS_API int16_t FS_SaveLineData(int16_t handle, AreaData *data) { return FS_SaveAreaData(handle, data); }

extern "C" CARDFS_API int16_t FS_LoadLineHeader(int16_t handle, LineHeader *header) {
    if (header == nullptr) return CARDFS_E_ARGUMENT;
    FS_InitLineHeader(header);
    const FieldReader in = transfer_reader(handle);
    return finish_record(in, read_line_part(in, header));
}

extern "C" CARDFS_API int16_t FS_LoadAreaHeader(int16_t handle, AreaHeader *header) {
    if (header == nullptr) return CARDFS_E_ARGUMENT;
    FS_InitAreaHeader(header);
    const FieldReader in = transfer_reader(handle);
    int16_t st = read_line_part(in, &header->line);
    if (st == 0) st = read_words(in, header->areaWords, 4);
    if (st == 0) st = read_words(in, header->areaTable, 16);
    return finish_record(in, st);
}

extern "C" CARDFS_API int16_t FS_LoadAreaData(int16_t handle, AreaData *data) {
    if (data == nullptr) return CARDFS_E_ARGUMENT;
    FS_InitAreaData(data);
    const FieldReader in = transfer_reader(handle);
    int16_t st = read_member(in, &data->dataValue1);
    if (st == 0) st = read_member(in, &data->dataValue2);
    return finish_record(in, st);
}

extern "C" CARDFS_API int16_t FS_LoadLineData(int16_t handle, AreaData *data) { return FS_LoadAreaData(handle, data); }
