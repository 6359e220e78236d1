// check --repair: the allocation map rebuilt by the library from the
// files' chains (FS_Repair), told in plain words.
#include "volume_repair.h"

#include <cstdio>
#include <string>

#include "card_files.h"
#include "status_words.h"
#include "verbs.h"

namespace tool {
namespace {

std::string nameOfEntry(int entryNumber) {
    for (const CardFile &file : listFiles())
        if (file.entryNumber == entryNumber) return file.name;
    return "entry " + std::to_string(entryNumber);
}

std::string problemWords(const FS_FileProblem &problem) {
    std::string words;
    if (problem.problem & CARDFS_CHAIN_BROKEN)
        words = "its chain is broken after " + std::to_string(problem.blocksFound) + " block(s)";
    if (problem.problem & CARDFS_CHAIN_SHARED)
        words += std::string(words.empty() ? "" : "; ") + "it shares blocks with another file";
    return words;
}

}  // namespace

int repairVolume(const Medium &medium) {
    FS_RepairReport report{};
    check(FS_Repair(nullptr, &report), "repairing " + medium.what);
    if (report.mapWritten)
        say("repaired the map of " + medium.what + ": " + std::to_string(report.leakedBlocks) +
            " leaked block(s) freed, " + std::to_string(report.unmarkedBlocks) + " block(s) of files marked in use");
    else
        say("the map of " + medium.what + " needed no repair");
    for (int i = 0; i < report.problemsListed; i++)
        std::printf("problem: %s: %s (read what you can, then remove it)\n",
                    nameOfEntry(report.problems[i].entryNumber).c_str(), problemWords(report.problems[i]).c_str());
    if (report.problemsListed == CARDFS_REPAIR_LISTED) std::printf("problem: there may be more damaged files\n");
    std::fflush(stdout);
    return report.problemsListed;
}

}  // namespace tool
