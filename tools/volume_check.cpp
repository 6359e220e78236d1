// Walks every file's chain through the device's own block reads and holds
// the result against the directory and the allocation map. Block layout:
// a file block opens with a little-endian link word; bit 15 clear names
// the next block, bit 15 set marks the last block and counts the bytes in
// use there, the link word included (2 to blockSize). The map follows the
// directory: one bit per block (1 in use), or on flash two bits per block
// (00 free, 11 in use, 10 released).
#include "volume_check.h"

#include <map>
#include <memory>

#include "card_files.h"
#include "status_words.h"

namespace tool {
namespace {

enum class State { Free, Used, Released, Invalid };

const char *stateWords(State state) {
    switch (state) {
    case State::Free: return "free";
    case State::Used: return "in use";
    case State::Released: return "released";
    default: return "invalid (01)";
    }
}

class Checker {
public:
    explicit Checker(DeviceDescriptor *device) : dev_(device), flash_(device->flashGeometry != nullptr) {}
    CheckReport run();

private:
    std::vector<uint8_t> readBlock(int block);
    void loadMap();
    State mapState(int block) const;
    int mapEnd() const;
    void walkChain(const CardFile &file);
    void compareMap();
    void reportSectors();

    DeviceDescriptor *dev_;
    bool flash_;
    std::vector<uint8_t> map_;
    std::map<int, std::string> owner_;  // live block -> file name
    CheckReport report_;
};

std::vector<uint8_t> Checker::readBlock(int block) {
    std::vector<uint8_t> buffer(1024);
    check(dev_->ReadBlock(dev_, int16_t(block), buffer.data()), "reading block " + std::to_string(block));
    return buffer;
}

void Checker::loadMap() {
    auto scan = std::make_unique<DirScan>();
    check(FS_OpenDir(nullptr, scan.get()), "reading the directory");
    map_ = readBlock(scan->startBlock + dev_->dirBlocks);
}

State Checker::mapState(int block) const {
    if (!flash_) return (map_[size_t(block / 8)] >> (block % 8)) & 1 ? State::Used : State::Free;
    static const State pairs[] = {State::Free, State::Invalid, State::Released, State::Used};
    return pairs[(map_[size_t(block / 4)] >> (2 * (block % 4))) & 3];
}

// Only whole map bytes take part in allocation.
int Checker::mapEnd() const {
    const int perByte = flash_ ? 4 : 8;
    return dev_->totalBlocks / perByte * perByte;
}

void Checker::walkChain(const CardFile &file) {
    const auto problem = [&](const std::string &text) { report_.problems.push_back(file.name + ": " + text); };
    std::map<int, bool> seen;
    int block = file.firstBlock, count = 0;
    while (true) {
        if (block < dev_->firstDataBlock || block >= dev_->totalBlocks)
            return problem("block " + std::to_string(block) + " lies outside the data area");
        if (seen[block]) return problem("the chain runs in a circle at block " + std::to_string(block));
        seen[block] = true;
        auto [other, isNew] = owner_.emplace(block, file.name);
        if (!isNew) problem("block " + std::to_string(block) + " belongs to " + other->second + " too");
        ++count;
        const std::vector<uint8_t> data = readBlock(block);
        const int link = data[0] | data[1] << 8;
        if (link & 0x8000) {
            const int used = link & 0x7FFF;
            if (used < 2 || used > dev_->blockSize)
                problem("its last block " + std::to_string(block) + " claims " + std::to_string(used) + " bytes");
            break;
        }
        block = link;
    }
    if (count != file.blockCount)
        problem("the chain has " + std::to_string(count) + " blocks, the directory says " +
                std::to_string(file.blockCount));
}

void Checker::compareMap() {
    for (int block = 0; block < mapEnd(); ++block) {
        const State state = mapState(block);
        const auto owner = owner_.find(block);
        const std::string at = "block " + std::to_string(block);
        if (block < dev_->firstDataBlock) {
            if (state != State::Used) report_.problems.push_back("system " + at + " is marked " + stateWords(state));
        } else if (owner != owner_.end()) {
            if (state != State::Used)
                report_.problems.push_back(at + " of " + owner->second + " is marked " + stateWords(state));
        } else if (state == State::Used || state == State::Invalid) {
            report_.problems.push_back(at + " is marked " + stateWords(state) + " but belongs to no file");
        }
    }
}

// Per data sector in use: blocks in use, released and free; one sector must stay
// free as the spare that reclamation needs.
void Checker::reportSectors() {
    const FlashGeometry &flash = *dev_->flashGeometry;
    const int perSector = flash.sectorSize / dev_->blockSize;
    int released = 0, freeSectors = 0;
    for (int sector = flash.systemSectors; sector < flash.sectorCount; ++sector) {
        int counts[4] = {0, 0, 0, 0};
        for (int block = sector * perSector; block < (sector + 1) * perSector; ++block)
            ++counts[int(mapState(block))];
        released += counts[int(State::Released)];
        if (counts[int(State::Free)] == perSector) {
            ++freeSectors;
            continue;
        }
        report_.notes.push_back("sector " + std::to_string(sector) + ": " + std::to_string(counts[int(State::Used)]) +
                                " in use, " + std::to_string(counts[int(State::Released)]) + " released, " +
                                std::to_string(counts[int(State::Free)]) + " free");
    }
    report_.notes.push_back(std::to_string(released) + " released blocks, " + std::to_string(freeSectors) +
                            " free sectors (one is kept as the spare)");
    if (freeSectors == 0) report_.problems.push_back("no data sector is free: reclamation has no spare sector");
}

CheckReport Checker::run() {
    loadMap();
    for (const CardFile &file : listFiles()) {
        walkChain(file);
        ++report_.files;
    }
    report_.liveBlocks = int(owner_.size());
    compareMap();
    if (flash_) reportSectors();
    return report_;
}

}  // namespace

CheckReport checkVolume(DeviceDescriptor *device) { return Checker(device).run(); }

}  // namespace tool
