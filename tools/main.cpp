// cardfs: look inside cardfs media and move files, from a shell.
//   cardfs [media options] VERB [arguments]
// Exit status 0 on success; 1 with one line "cardfs: ..." on standard
// error when the work fails; 2 when the command line is wrong.
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "progress.h"
#include "status_words.h"
#include "verbs.h"

namespace tool {

void say(const std::string &line) {
    if (!quiet()) std::printf("%s\n", line.c_str());
}

namespace {

void addMediaOptions(CLI::App &app, MediaOptions &media) {
    auto *card = app.add_option("--card", media.card, "card directory: its root, holding USERIMG.BIN")
                     ->capture_default_str();
    auto *disk = app.add_option("--disk", media.disk, "diskette image (or block device) in drive A:");
    auto *cartridge = app.add_option("--cartridge", media.cartridge, "cartridge image in the card programmer");
    auto *flashCard = app.add_option("--flash-card", media.flashCard, "card image at flash level in the reader");
    app.add_option("--chip", media.chip, "chip set: 1F5B, 1FA4, 1FD5, 1FDA, flash1m to flash4m");
    app.add_option("--slot", media.slot, "programmer slot of the cartridge")->check(CLI::Range(0, 1))->needs(cartridge);
    app.add_flag("--parallel", media.parallel, "programmer on the parallel port (default: USB)")->needs(cartridge);
    card->excludes(disk, cartridge, flashCard);
    disk->excludes(cartridge, flashCard);
    cartridge->excludes(flashCard);
}

int run(int argc, char **argv) {
    CLI::App app{"cardfs: look inside cardfs media (cards, cartridges, diskette images) and move files", "cardfs"};
    app.require_subcommand(0, 1);
    app.fallthrough();  // media options may follow the verb too
    MediaOptions media;
    bool quietFlag = false;
    addMediaOptions(app, media);
    app.add_flag("-q,--quiet", quietFlag, "no progress bar and no confirmations");
    Verbs verbs;
    addVolumeVerbs(app, media, verbs);
    addFileVerbs(app, media, verbs);
    addRecordVerbs(app, media, verbs);
#ifdef CARDFS_TOOL_MOUNT
    addMountVerbs(app, media, verbs);
#endif
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success &success) {
        return app.exit(success);
    } catch (const CLI::ParseError &error) {
        std::fprintf(stderr, "cardfs: %s (cardfs --help tells more)\n", error.what());
        return 2;
    }
    if (app.get_subcommands().empty()) {
        std::fprintf(stderr, "cardfs: a verb is required (cardfs --help lists them)\n");
        return 2;
    }
    if ((!media.cartridge.empty() || !media.flashCard.empty()) == media.chip.empty())
        throw Failure(media.chip.empty() ? "--chip missing: name the chip set (1F5B, 1FA4, 1FD5, 1FDA, flash1m to flash4m)"
                                         : "--chip belongs to --cartridge or --flash-card");
    setQuiet(quietFlag);
    return verbs.at(app.get_subcommands().front())();
}

}  // namespace
}  // namespace tool

int main(int argc, char **argv) {
    // Times of MER records are wall-clock times; with the library working
    // in UTC they print as they were recorded and read back unchanged.
    setenv("TZ", "UTC0", 1);
    tzset();
    try {
        return tool::run(argc, argv);
    } catch (const tool::Failure &failure) {
        std::fflush(stdout);
        std::fprintf(stderr, "cardfs: %s\n", failure.what());
        return 1;
    } catch (const std::exception &error) {
        std::fflush(stdout);
        std::fprintf(stderr, "cardfs: %s\n", error.what());
        return 1;
    }
}
