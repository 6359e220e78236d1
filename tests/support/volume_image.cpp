#include "volume_image.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <set>

namespace volimage {
namespace {

uint16_t word(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
bool signature(const uint8_t *p) { return p[0] == 'D' && p[1] == 'O' && p[2] == 'S'; }

// The header block as mounting finds it: fixed, or the first flash slot whose header carries "DOS".
int32_t findHeader(const DeviceDescriptor &g, const BlockSource &src) {
    const FlashGeometry *f = g.flashGeometry;
    if (!f) return g.headerBlock;
    const int32_t perSector = f->sectorSize / g.blockSize, step = f->systemAreaBlocks, end = perSector / step * step;
    for (int32_t s = 0; s < f->systemSectors; s++) {
        for (int32_t b = 0; b < end; b += step) {
            const uint8_t *block = src(s * perSector + b);
            if (!block) return -1;
            if (signature(block + 1)) return s * perSector + b;
            if (b == 0 && block[1] == 0xFF) break;
        }
    }
    return -1;
}

std::string nameOf(const uint8_t *e) {
    std::string base(reinterpret_cast<const char *>(e + 4), 8);
    while (!base.empty() && std::isspace(static_cast<unsigned char>(base.back()))) base.pop_back();
    for (char &c : base) c = char(std::tolower(static_cast<unsigned char>(c)));
    return base + "." + std::to_string(word(e));
}

void follow(const Image &img, int32_t blockSize, const BlockSource &src, bool content, File &f) {
    std::set<int32_t> seen;
    for (int32_t b = f.first & 0x7FFF; img.dataBlock(b) && seen.insert(b).second;) {
        const uint8_t *block = src(b);
        if (!block) return;
        f.chain.push_back(b);
        const uint16_t link = word(block);
        const int32_t used = link & 0x8000 ? (link & 0x7FFF) : blockSize;
        if (content && used >= 2 && used <= blockSize) f.content.insert(f.content.end(), block + 2, block + used);
        if (link & 0x8000) {
            f.whole = f.chain.size() == f.count && used >= 2 && used <= blockSize;
            break;
        }
        if (f.chain.size() >= f.count) break;
        b = link;
    }
    if (!f.whole) f.content.clear();
}

}  // namespace

std::map<std::string, Bytes> Image::contents() const {
    std::map<std::string, Bytes> m;
    for (const File &f : files)
        if (f.whole) m[f.name] = f.content;
    return m;
}

int Image::state(int32_t b) const {
    if (flash) return map[size_t(b / 4)] >> (2 * (b % 4)) & 3;
    return map[size_t(b / 8)] >> (b % 8) & 1;
}

Image decode(const DeviceDescriptor &g, const BlockSource &src, bool content) {
    Image img;
    img.flash = g.flashGeometry != nullptr;
    img.totalBlocks = g.totalBlocks, img.firstDataBlock = g.firstDataBlock;
    if (img.flash) img.systemBlocks = g.flashGeometry->systemSectors * (g.flashGeometry->sectorSize / g.blockSize);
    img.header = findHeader(g, src);
    const uint8_t *head = img.header >= 0 ? src(img.header) : nullptr;
    if (!head || !signature(head + 1) || head[14] > 1) return img;
    img.mounts = true;
    const uint8_t *map = src(img.header + g.dirBlocks);
    img.map.assign(map ? map : head, (map ? map : head) + g.blockSize);
    const int perBlock = g.blockSize / 16;
    for (int32_t i = 0; i < g.dirBlocks; i++) {
        const uint8_t *block = src(img.header + i);
        for (int k = (i == 0); block && k < perBlock; k++) {
            const uint8_t *e = block + 16 * k;
            if (word(e) == 0) continue;
            File f;
            f.name = nameOf(e), f.entry = i * perBlock + k, f.first = word(e + 2), f.count = word(e + 12);
            follow(img, g.blockSize, src, content, f);
            img.files.push_back(std::move(f));
        }
    }
    return img;
}

Health health(const Image &img) {
    Health h;
    std::set<int32_t> held;
    for (const File &f : img.files) {
        if (!f.whole && h.problem.empty()) h.problem = "chain of " + f.name + " is not whole";
        for (int32_t b : f.chain) {
            if (!held.insert(b).second && h.problem.empty()) h.problem = "block " + std::to_string(b) + " in two files";
            if (!img.inUse(b) && h.problem.empty()) h.problem = "block " + std::to_string(b) + " of " + f.name + " is free on the map";
        }
    }
    h.live = int(held.size());
    for (int32_t b = 0; b < img.totalBlocks; b++) h.leaked += img.dataBlock(b) && img.inUse(b) && !held.count(b);
    return h;
}

std::string canonical(const std::string &name) {
    std::string s = name.size() > 1 && name[1] == ':' ? name.substr(2) : name;
    const size_t dot = s.rfind('.');
    std::string base = s.substr(0, dot == std::string::npos ? s.size() : dot);
    base = base.substr(0, 8);
    for (char &c : base) c = char(std::tolower(static_cast<unsigned char>(c)));
    long ext = 999;
    if (dot != std::string::npos) {
        ext = std::strtol(s.c_str() + dot + 1, nullptr, 10);
        if (ext < 0 || ext > 999) ext = 999;
    }
    while (!base.empty() && base.back() == ' ') base.pop_back();
    return base + "." + std::to_string(ext);
}

}  // namespace volimage
