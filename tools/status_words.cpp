// Every status the library reports, in the words a user reads.
#include "status_words.h"

#include <map>

#include "cardfs.h"

namespace tool {

std::string statusWords(int32_t status) {
    static const std::map<int32_t, const char *> words = {
        {CARDFS_E_DIR_FULL, "directory full"},
        {CARDFS_E_MEDIUM_FULL, "medium full"},
        {CARDFS_E_NOT_FOUND, "no such file"},
        {CARDFS_E_EXISTS, "file exists"},
        {CARDFS_E_NO_VOLUME, "no volume (format the medium first)"},
        {CARDFS_E_VERSION, "volume of a newer format version"},
        {CARDFS_E_VERIFY, "verification failed (a damaged chain or a block that did not program)"},
        {CARDFS_E_FOREIGN, "the cartridge holds content of another kind"},
        {CARDFS_E_NO_DEVICE, "no device or no usable medium"},
        {CARDFS_E_WRITE_PROTECTED, "write-protected"},
        {CARDFS_E_IMAGE_WRITE, "the card image cannot be written"},
        {CARDFS_E_NO_RECORD, "too many open files"},
        {CARDFS_E_CROSS_DEVICE, "names on two devices"},
        {CARDFS_E_NAME_DEVICE, "no device for the name"},
        {CARDFS_E_NOT_OPEN, "file not open"},
        {CARDFS_E_EOF, "unexpected end of file"},
        {CARDFS_E_NO_TABLE, "no device table"},
        {CARDFS_E_WRITING, "a file is open for writing"},
        {CARDFS_E_SCAN_NOT_OPEN, "directory scan not open"},
        {CARDFS_E_IO, "input/output error"},
        {CARDFS_E_NO_MEDIUM_KIND, "no diskette recognised in the drive"},
        {CARDFS_E_MEDIUM_CHANGED, "the diskette was changed"},
        {CARDFS_E_ARGUMENT, "invalid argument"},
        {CARDFS_E_RANGE, "value out of range"},
        {CARDFS_R_BAD_SELECTOR, "bad transfer selector"},
        {CARDFS_R_BAD_FORMAT, "not a transfer file (bad format byte)"},
        {CARDFS_R_FIELD_LENGTH, "format error (a field of the wrong length)"},
        {CARDFS_R_NO_RECORD, "no further record"},
        {CARDFS_R_NULL_POSITION, "record at the null position"},
    };
    auto found = words.find(status);
    return found != words.end() ? found->second : "status " + std::to_string(status);
}

void fail(int32_t status, const std::string &subject) { throw Failure(statusWords(status) + ": " + subject); }

void fail(const std::string &message) { throw Failure(message); }

}  // namespace tool
