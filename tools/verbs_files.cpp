// ls, put, get, cat, rm, mv, dump: files between the card and the host.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "card_files.h"
#include "progress.h"
#include "status_words.h"
#include "verbs.h"

namespace fs = std::filesystem;

namespace tool {
namespace {

Medium mounted(const MediaOptions &media) {
    Medium medium = openMedium(media);
    requireVolume(medium);
    return medium;
}

// Bytes of a card file as reading it yields them; -1 when it cannot be read.
long fileSize(const CardFile &file) {
    try {
        return long(readFile(file.name).size());
    } catch (const Failure &) {
        return -1;
    }
}

int ls(const MediaOptions &media, bool details) {
    mounted(media);
    std::printf(details ? "NAME     EXT       SIZE BLOCKS  FIRST ENTRY\n" : "NAME     EXT       SIZE BLOCKS\n");
    std::string unreadable;
    for (const CardFile &file : listFiles()) {
        const long size = fileSize(file);
        if (size < 0) unreadable = file.name;
        const std::string sizeText = size < 0 ? "?" : std::to_string(size);
        std::printf("%-8s %03u %10s %6u", file.base.c_str(), unsigned(file.extension), sizeText.c_str(),
                    unsigned(file.blockCount));
        if (details) std::printf(" %6u %5d", unsigned(file.firstBlock), file.entryNumber);
        std::printf("\n");
    }
    std::fflush(stdout);
    if (!unreadable.empty()) fail("cannot read " + unreadable + " (cardfs check tells why)");
    return 0;
}

std::vector<uint8_t> readLocal(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeLocal(const std::string &path, const std::vector<uint8_t> &data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(data.data()), std::streamsize(data.size()));
    if (!out) fail("cannot write " + path);
}

// The card name for `put LOCAL` without a name: the local file's own name.
std::string nameFromLocal(const std::string &local) {
    const std::string name = fs::path(local).filename().string();
    try {
        checkCardName(name);
    } catch (const Failure &) {
        fail("no card name for " + local + ": give one, as in: cardfs put " + local + " NAME.001");
    }
    return name;
}

void checkRoom(const Medium &medium, const std::string &local, uintmax_t size) {
    const int16_t used = FS_BlocksUsed();
    if (used < 0) fail(GetErrno(), "reading the allocation map of " + medium.what);
    const uint32_t needed = blocksFor(size), available = uint16_t(FS_BlocksFree());
    if (needed > available)
        fail("no room: " + local + " (" + std::to_string(size) + " bytes) needs " + std::to_string(needed) +
             " blocks, " + medium.what + " has " + std::to_string(available) + " free");
}

int put(const MediaOptions &media, const std::string &local, std::string name) {
    if (name.empty()) name = nameFromLocal(local);
    checkCardName(name);
    std::error_code error;
    const uintmax_t size = fs::file_size(local, error);
    if (error) fail("cannot read " + local + ": " + error.message());
    Medium medium = mounted(media);
    if (findFile(name)) fail(CARDFS_E_EXISTS, name);
    checkRoom(medium, local, size);
    const std::vector<uint8_t> data = readLocal(local);
    Progress progress("put " + name, data.size());
    writeFile(name, data, [&](uint64_t done) { progress.update(done); });
    progress.finish();
    say("wrote " + name + ": " + std::to_string(data.size()) + " bytes, " + std::to_string(blocksFor(data.size())) +
        " block(s)");
    return 0;
}

int get(const MediaOptions &media, const std::string &name, std::string local, bool force) {
    checkCardName(name);
    mounted(media);
    const auto file = findFile(name);
    if (!file) fail(CARDFS_E_NOT_FOUND, name);
    if (local.empty()) local = file->name;
    if (local == "-") {
        const std::vector<uint8_t> data = readFile(name);
        std::fwrite(data.data(), 1, data.size(), stdout);
        return 0;
    }
    if (fs::exists(local) && !force) fail("local file exists: " + local + " (--force replaces it)");
    Progress progress("get " + file->name, uint64_t(file->blockCount) * (FS_BlockSize() - 2u));
    const std::vector<uint8_t> data = readFile(name, [&](uint64_t done) { progress.update(done); });
    progress.finish();
    writeLocal(local, data);
    return 0;
}

int cat(const MediaOptions &media, const std::vector<std::string> &names) {
    for (const std::string &name : names) checkCardName(name);
    mounted(media);
    for (const std::string &name : names) {
        const std::vector<uint8_t> data = readFile(name);
        std::fwrite(data.data(), 1, data.size(), stdout);
    }
    return 0;
}

int rm(const MediaOptions &media, const std::vector<std::string> &names) {
    for (const std::string &name : names) checkCardName(name);
    mounted(media);
    for (const std::string &name : names) {
        check(FS_Delete(name.c_str()), name);
        say("removed " + name);
    }
    return 0;
}

int mv(const MediaOptions &media, const std::string &from, const std::string &to) {
    checkCardName(from);
    checkCardName(to);
    mounted(media);
    const int16_t status = FS_Rename(from.c_str(), to.c_str());
    check(status, status == CARDFS_E_EXISTS ? to : from);
    say("renamed " + from + " to " + to);
    return 0;
}

// 16 bytes a line: offset, bytes in hex, the printable ones as text.
int dump(const MediaOptions &media, const std::string &name) {
    checkCardName(name);
    mounted(media);
    const std::vector<uint8_t> data = readFile(name);
    for (size_t at = 0; at < data.size(); at += 16) {
        std::string hex, text;
        for (size_t i = at; i < at + 16; ++i) {
            char cell[4] = "   ";
            if (i < data.size()) std::snprintf(cell, sizeof cell, "%02x ", data[i]);
            hex += cell;
            if (i - at == 7) hex += ' ';
            if (i < data.size()) text += data[i] >= 0x20 && data[i] < 0x7F ? char(data[i]) : '.';
        }
        std::printf("%08zx  %s |%s|\n", at, hex.c_str(), text.c_str());
    }
    std::printf("%08zx\n", data.size());
    return 0;
}

}  // namespace

void addFileVerbs(CLI::App &app, const MediaOptions &media, Verbs &verbs) {
    static bool details = false, force = false;
    static std::string local, name, from, to;
    static std::vector<std::string> names;

    CLI::App *lsVerb = app.add_subcommand("ls", "list the files: name, extension, size in bytes, blocks");
    lsVerb->add_flag("-l", details, "add the first block and the directory entry number");
    verbs[lsVerb] = [&media] { return ls(media, details); };

    CLI::App *putVerb = app.add_subcommand("put", "copy a local file onto the medium");
    putVerb->add_option("LOCAL", local, "local file")->required();
    putVerb->add_option("NAME", name, "card name NAME.EXT (default: the local file's name)");
    verbs[putVerb] = [&media] { return put(media, local, name); };

    CLI::App *getVerb = app.add_subcommand("get", "copy a file from the medium (LOCAL - for standard output)");
    getVerb->add_option("NAME", name, "card file")->required();
    getVerb->add_option("LOCAL", local, "local file (default: the card name)");
    getVerb->add_flag("-f,--force", force, "replace an existing local file");
    verbs[getVerb] = [&media] { return get(media, name, local, force); };

    CLI::App *catVerb = app.add_subcommand("cat", "write files of the medium to standard output");
    catVerb->add_option("NAME", names, "card files")->required();
    verbs[catVerb] = [&media] { return cat(media, names); };

    CLI::App *rmVerb = app.add_subcommand("rm", "delete files");
    rmVerb->add_option("NAME", names, "card files")->required();
    verbs[rmVerb] = [&media] { return rm(media, names); };

    CLI::App *mvVerb = app.add_subcommand("mv", "rename a file");
    mvVerb->add_option("OLD", from, "card file")->required();
    mvVerb->add_option("NEW", to, "new name NAME.EXT")->required();
    verbs[mvVerb] = [&media] { return mv(media, from, to); };

    CLI::App *dumpVerb = app.add_subcommand("dump", "show a file in hex");
    dumpVerb->add_option("NAME", name, "card file")->required();
    verbs[dumpVerb] = [&media] { return dump(media, name); };
}

}  // namespace tool
