// format, info, check: the volume as a whole.
#include <cstdio>
#include <memory>

#include "card_files.h"
#include "progress.h"
#include "status_words.h"
#include "verbs.h"
#include "volume_check.h"
#include "volume_repair.h"

namespace tool {
namespace {

void checkLabel(const std::string &label) {
    bool good = !label.empty() && label.size() <= 8;
    for (const char c : label) good = good && static_cast<unsigned char>(c) >= 0x20 && c != 0x7F && c != '.' && c != ':';
    if (!good) fail("bad label: " + label + " (1 to 8 characters, no '.' nor ':')");
}

std::string deviceTypeWords(int32_t type) {
    switch (type) {
    case CARDFS_TYPE_DISKETTE_A: return "diskette in drive A:";
    case CARDFS_TYPE_DISKETTE_B: return "diskette in drive B:";
    case CARDFS_TYPE_CARTRIDGE_0: return "cartridge in programmer slot 0";
    case CARDFS_TYPE_CARTRIDGE_1: return "cartridge in programmer slot 1";
    case CARDFS_TYPE_READER_CARD: return "card at flash level in the media reader";
    case CARDFS_TYPE_READER_IMAGE_1: return "card image file in reader slot 1";
    case CARDFS_TYPE_READER_IMAGE_3: return "card image file in reader slot 3";
    default: return "unknown kind";
    }
}

int format(const MediaOptions &media, const std::string &label, bool test, bool force) {
    checkLabel(label);
    Medium medium = openMedium(media);
    if (medium.hasVolume() && !force)
        fail("not formatted: " + medium.what + " holds the volume " + volumeLabel() + " with " +
             std::to_string(listFiles().size()) + " files (--force formats it all the same)");
    const std::string name = "A:" + label;
    const int16_t status = withActivity(test ? "test and format" : "format", [&] {
        return test ? FS_Test(name.c_str()) : FS_Format(name.c_str());
    });
    check(status, medium.what);
    check(FS_Init(nullptr), medium.what);
    say("formatted " + medium.what + " as " + label + ": " + std::to_string(FS_BlocksFree()) + " blocks free, " +
        std::to_string(FS_SpaceFree()) + " bytes");
    return 0;
}

int16_t blocksUsed(const Medium &medium) {
    const int16_t used = FS_BlocksUsed();
    if (used < 0) fail(GetErrno(), "reading the allocation map of " + medium.what);
    return used;
}

int info(const MediaOptions &media) {
    Medium medium = openMedium(media);
    requireVolume(medium);
    const DeviceDescriptor &dev = *medium.device;
    auto scan = std::make_unique<DirScan>();
    check(FS_OpenDir(nullptr, scan.get()), "reading the directory");
    const int16_t used = blocksUsed(medium);
    std::printf("volume       %s\n", volumeLabel().c_str());
    std::printf("medium       %s\n", medium.what.c_str());
    std::printf("device type  %d (%s)\n", int(dev.deviceType), deviceTypeWords(dev.deviceType).c_str());
    std::printf("block size   %u bytes\n", unsigned(FS_BlockSize()));
    std::printf("blocks       %d: directory of %d blocks from block %u, map in block %u, files from block %d\n",
                dev.totalBlocks, dev.dirBlocks, unsigned(scan->startBlock), unsigned(scan->startBlock + dev.dirBlocks),
                dev.firstDataBlock);
    if (const FlashGeometry *flash = dev.flashGeometry)
        std::printf("flash        %d sectors of %ld bytes, %d system sectors, system area of %d blocks\n",
                    flash->sectorCount, long(flash->sectorSize), flash->systemSectors, flash->systemAreaBlocks);
    std::printf("size         %ld KiB\n", long(FS_DeviceSize()));
    std::printf("capacity     %d blocks for files: %d used, %d free (%ld bytes)\n", FS_TotalBlocks(), used,
                FS_BlocksFree(), long(FS_SpaceFree()));
    std::printf("files        %d\n", FS_FilesPresent(scan.get()));
    return 0;
}

int checkCommand(const MediaOptions &media, bool repair) {
    Medium medium = openMedium(media);
    requireVolume(medium);
    if (repair) repairVolume(medium);
    const CheckReport report = checkVolume(medium.device);
    for (const std::string &note : report.notes) std::printf("%s\n", note.c_str());
    for (const std::string &problem : report.problems) std::printf("problem: %s\n", problem.c_str());
    std::fflush(stdout);
    if (!report.problems.empty())
        fail(std::to_string(report.problems.size()) + " problems found on " + medium.what);
    std::printf("clean: %d file(s), %d block(s) in files\n", report.files, report.liveBlocks);
    return 0;
}

}  // namespace

void addVolumeVerbs(CLI::App &app, const MediaOptions &media, Verbs &verbs) {
    static std::string label = "CARDFS";
    static bool test = false, force = false;
    CLI::App *formatVerb = app.add_subcommand("format", "write a new, empty volume on the medium");
    formatVerb->add_option("LABEL", label, "volume label, up to 8 characters")->capture_default_str();
    formatVerb->add_flag("--test", test, "test the medium (write and read back) first");
    formatVerb->add_flag("-f,--force", force, "format a medium that holds a volume");
    verbs[formatVerb] = [&media] { return format(media, label, test, force); };

    CLI::App *infoVerb = app.add_subcommand("info", "label, geometry, device type, capacity and files");
    verbs[infoVerb] = [&media] { return info(media); };

    static bool repair = false;
    CLI::App *checkVerb = app.add_subcommand(
        "check", "check chains, map and sectors; changes nothing (but with --repair), exit status 0 only when clean");
    checkVerb->add_flag("--repair", repair,
                        "first rebuild the allocation map from the files' chains (leaked blocks freed, "
                        "files' blocks marked in use); damaged files are listed, not removed");
    verbs[checkVerb] = [&media] { return checkCommand(media, repair); };
}

}  // namespace tool
