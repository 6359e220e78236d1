// Files on the mounted volume, through the library's file calls.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cardfs.h"

namespace tool {

// One file of the directory, as the library reports it.
struct CardFile {
    std::string name;       // BuildFileName: "TRACK.001"
    std::string base;       // the name without trailing spaces
    uint16_t extension;
    uint16_t blockCount;
    uint16_t firstBlock;    // bits 0 to 14 of the entry's word
    int entryNumber;        // 1 is the first entry after the volume header
};

// Checks a card name: BASE.EXT with 1 to 8 characters of base (no ':' and
// no control characters) and an extension from 1 to 999. Throws otherwise.
void checkCardName(const std::string &name);

// The volume's label (the header entry's name, trailing spaces dropped).
std::string volumeLabel();
// Every file, in directory order.
std::vector<CardFile> listFiles();
// The file of that name (letter case aside, as the library matches), if any.
std::optional<CardFile> findFile(const std::string &name);

// Bytes of the file, read with FS_Getc; `progress` gets the bytes read so far.
using ProgressFn = std::function<void(uint64_t)>;
std::vector<uint8_t> readFile(const std::string &name, const ProgressFn &progress = nullptr);

// Writes a new file; on a failed write the library drops it and the write's
// status is thrown. Existing names are refused before anything is written.
void writeFile(const std::string &name, const std::vector<uint8_t> &data, const ProgressFn &progress = nullptr);

// Blocks a file of `size` bytes takes: each block carries blockSize - 2.
uint32_t blocksFor(uint64_t size);

// Opens a card file for reading or writing; closes it when it goes out of
// scope. A writer must be committed with close(): dropping it unclosed
// after a failure lets the library discard the file.
class ReadHandle {
public:
    explicit ReadHandle(const std::string &name);
    ~ReadHandle();
    ReadHandle(const ReadHandle &) = delete;
    ReadHandle &operator=(const ReadHandle &) = delete;
    int16_t get() const { return handle_; }

private:
    int16_t handle_;
};

class WriteHandle {
public:
    explicit WriteHandle(const std::string &name);
    ~WriteHandle();
    WriteHandle(const WriteHandle &) = delete;
    WriteHandle &operator=(const WriteHandle &) = delete;
    int16_t get() const { return handle_; }
    // Checks the status of a write. On a failure the file is closed at once,
    // so that the library drops it, and the status is thrown.
    void check(int16_t status);
    // Commits the file.
    void close();

private:
    std::string name_;
    int16_t handle_;
    bool open_ = true;
};

}  // namespace tool
