// Directory listing, name checks and whole-file transfers.
#include "card_files.h"

#include <cctype>
#include <memory>

#include "status_words.h"

namespace tool {
namespace {

constexpr size_t kChunk = 16 * 1024;

// The base and the extension of a checked name.
std::pair<std::string, int> splitName(const std::string &name) {
    const size_t dot = name.rfind('.');
    return {name.substr(0, dot), std::stoi(name.substr(dot + 1))};
}

bool sameBase(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string trimmedBase(const char *name8) {
    std::string base(name8, 8);
    while (!base.empty() && std::isspace(static_cast<unsigned char>(base.back()))) base.pop_back();
    return base;
}

}  // namespace

void checkCardName(const std::string &name) {
    const size_t dot = name.rfind('.');
    bool good = dot != std::string::npos && dot >= 1 && dot <= 8 && dot + 1 < name.size() && dot + 5 > name.size();
    for (size_t i = 0; good && i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        good = i > dot ? std::isdigit(c) != 0 : c >= 0x20 && c != 0x7F && c != ':';
    }
    if (good) {
        const int extension = splitName(name).second;
        good = extension >= 1 && extension <= 999;
    }
    if (!good) fail("bad card name: " + name + " (NAME.EXT: up to 8 characters, a number from 1 to 999)");
}

std::string volumeLabel() {
    auto scan = std::make_unique<DirScan>();
    check(FS_OpenDir(nullptr, scan.get()), "reading the directory");
    DirEntry header;
    check(FS_GetDirEntry(scan.get(), &header), "reading the directory");
    return trimmedBase(header.name);
}

std::vector<CardFile> listFiles() {
    auto scan = std::make_unique<DirScan>();
    check(FS_OpenDir(nullptr, scan.get()), "reading the directory");
    std::vector<CardFile> files;
    int16_t status;
    for (int number = 1; (status = FS_ReadDir(scan.get())) == CARDFS_OK; ++number) {
        DirEntry entry;
        check(FS_GetDirEntry(scan.get(), &entry), "reading the directory");
        if (entry.extension == 0) continue;
        char name[16];
        BuildFileName(name, entry.name, int16_t(entry.extension));
        files.push_back({name, trimmedBase(entry.name), entry.extension, entry.blockCount,
                         uint16_t(entry.firstBlock & 0x7FFF), number});
    }
    if (status != CARDFS_E_NOT_FOUND) fail(status, "reading the directory");
    return files;
}

std::optional<CardFile> findFile(const std::string &name) {
    const auto [base, extension] = splitName(name);
    for (const CardFile &file : listFiles())
        if (file.extension == extension && sameBase(file.base, base.substr(0, 8))) return file;
    return std::nullopt;
}

uint32_t blocksFor(uint64_t size) {
    const uint64_t perBlock = FS_BlockSize() - 2u;
    return size == 0 ? 1 : uint32_t((size + perBlock - 1) / perBlock);
}

ReadHandle::ReadHandle(const std::string &name) : handle_(FS_OpenR(name.c_str())) {
    if (handle_ < 0) fail(handle_, name);
}

ReadHandle::~ReadHandle() { FS_CloseR(handle_); }

WriteHandle::WriteHandle(const std::string &name) : name_(name), handle_(FS_OpenW(name.c_str())) {
    if (handle_ < 0) fail(handle_, name);
}

WriteHandle::~WriteHandle() {
    if (open_) FS_CloseW(handle_);
}

void WriteHandle::check(int16_t status) {
    if (status == CARDFS_OK) return;
    // The status variable still holds the failure: closing now drops the file.
    FS_CloseW(handle_);
    open_ = false;
    fail(status, name_);
}

void WriteHandle::close() {
    open_ = false;
    tool::check(FS_CloseW(handle_), name_);
}

std::vector<uint8_t> readFile(const std::string &name, const ProgressFn &progress) {
    ReadHandle file(name);
    std::vector<uint8_t> data;
    for (int16_t c; (c = FS_Getc(file.get())) != -1;) {
        data.push_back(uint8_t(c));
        if (progress && data.size() % kChunk == 0) progress(data.size());
    }
    const int32_t status = GetErrno();
    if (status != CARDFS_E_EOF) fail(status, name);
    return data;
}

void writeFile(const std::string &name, const std::vector<uint8_t> &data, const ProgressFn &progress) {
    WriteHandle file(name);
    for (size_t done = 0; done < data.size(); done += kChunk) {
        const size_t count = std::min(kChunk, data.size() - done);
        file.check(FS_WriteFileEx(file.get(), data.data() + done, uint32_t(count)));
        if (progress) progress(done + count);
    }
    file.close();
}

}  // namespace tool
