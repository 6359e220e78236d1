// Record files: each reader loops over the library's loader until it
// reports no further record; anything else ends the command with the
// loader's result and the record's number.
#include "records.h"

#include "card_files.h"
#include "status_words.h"

namespace tool {
namespace {

constexpr int16_t kSelector = 1;  // any valid selector reads the head alike
// Declares where the second MER text stands (flags2 bit 5), here late
// (flags1 bit 5 clear), so that the loader need not guess it per record.
constexpr uint8_t kDeclaredLayout = 0x20;

void startLoad(const ReadHandle &file, const std::string &name) {
    int16_t secondary = 0, primary = 0;
    LoadStartInfo info;
    check(C2P_Do_Load_StartEx(file.get(), kSelector, &secondary, &primary, &info), name);
}

template <class Record, class Loader>
std::vector<Record> loadRecords(const std::string &name, Loader loader) {
    ReadHandle file(name);
    startLoad(file, name);
    std::vector<Record> records;
    while (true) {
        Record record;
        const int16_t result = loader(file.get(), &record);
        if (result == CARDFS_R_NO_RECORD) break;
        if (result != CARDFS_OK && result != CARDFS_R_NULL_POSITION)
            fail(result, name + " record " + std::to_string(records.size() + 1));
        records.push_back(record);
    }
    GetErrno();  // the end of the file the loader met stays pending: drop it
    return records;
}

template <class Record, class Writer>
void saveRecords(const std::string &name, const std::vector<Record> &records, uint8_t flags2, Writer writer) {
    WriteHandle file(name);
    HeaderFileStructure head;
    P2C_InitHeaderFileStructure(&head);
    head.flags2 = uint8_t(head.flags2 | flags2);
    file.check(P2C_Do_Save_Start(file.get(), &head));
    for (Record record : records) file.check(writer(file.get(), &record));
    file.close();
}

}  // namespace

std::vector<MERStructure> loadMer(const std::string &name) {
    return loadRecords<MERStructure>(name, C2P_LoadFileOfMER);
}

std::vector<TrackStructure> loadTrack(const std::string &name) {
    return loadRecords<TrackStructure>(name, C2P_LoadFileOfTrack);
}

void saveMer(const std::string &name, const std::vector<MERStructure> &records) {
    saveRecords(name, records, kDeclaredLayout, P2C_MER_File_Add_Data);
}

void saveTrack(const std::string &name, const std::vector<TrackStructure> &records) {
    saveRecords(name, records, 0, P2C_Track_File_Add_Data);
}

std::vector<TagRead> loadTags(const std::string &name) {
    ReadHandle file(name);
    std::vector<TagRead> tags;
    while (true) {
        TagRead read{};
        FS_InitTag(&read.tag);
        const int16_t result = FS_ReadTag(file.get(), &read.tag);
        if (result == CARDFS_R_NO_RECORD) break;
        if (result != CARDFS_OK) fail(result, name + " tag " + std::to_string(tags.size() + 1));
        FS_GetTagInfo(read.tag.tagNumber, &read.info);
        tags.push_back(read);
    }
    return tags;
}

RawRead loadRaw(const std::string &name) {
    ReadHandle file(name);
    RawRead raw{};
    FS_InitRawHeader(&raw.header);
    check(FS_RawReadHeader(file.get(), &raw.header), name + " header");
    while (FS_Getc(file.get()) != -1) ++raw.payloadBytes;
    const int32_t status = GetErrno();
    if (status != CARDFS_E_EOF) fail(status, name);
    return raw;
}

}  // namespace tool
