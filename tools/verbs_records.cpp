// mer, track, import-mer, import-track, tags, raw: the structured files.
#include <cstdio>
#include <fstream>

#include "card_files.h"
#include "csv.h"
#include "json_output.h"
#include "records.h"
#include "status_words.h"
#include "svg_output.h"
#include "table_output.h"
#include "verbs.h"

namespace tool {
namespace {

struct ShowOptions {
    std::string name, svg;
    bool json = false, csv = false;
};

struct ImportOptions {
    std::string csv, name;
};

void mount(const MediaOptions &media) { requireVolume(openMedium(media)); }

std::vector<std::string> texts(const Row &row, const char *absent) {
    std::vector<std::string> cells;
    for (const Cell &cell : row) cells.push_back(cell.kind == Cell::Absent ? absent : cell.str());
    return cells;
}

template <class Record>
void printCsv(const std::vector<Column> &columns, const std::vector<Record> &records) {
    std::printf("%s\n", csvLine(columnNames(columns)).c_str());
    for (const Record &record : records) std::printf("%s\n", csvLine(texts(toRow(columns, &record), "")).c_str());
}

void printMerTable(const std::vector<MERStructure> &records) {
    std::vector<std::string> header = {"#"};
    for (const std::string &name : columnNames(merColumns())) header.push_back(name);
    std::vector<std::vector<std::string>> rows;
    for (const MERStructure &record : records) {
        rows.push_back({std::to_string(rows.size() + 1)});
        for (const std::string &cell : texts(toRow(merColumns(), &record), "-")) rows.back().push_back(cell);
    }
    printTable(header, rows);
}

void printTrackTable(const std::vector<TrackStructure> &records) {
    std::vector<std::string> header = {"#"};
    for (const std::string &name : columnNames(trackColumns())) header.push_back(name);
    std::vector<std::vector<std::string>> rows;
    for (const TrackStructure &record : records) {
        rows.push_back({std::to_string(rows.size() + 1)});
        if (isBreak(record)) {
            rows.back().push_back("break");
            continue;
        }
        for (const std::string &cell : texts(toRow(trackColumns(), &record), "-")) rows.back().push_back(cell);
    }
    printTable(header, rows);
}

void writeText(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) fail("cannot write " + path);
}

int showMer(const MediaOptions &media, const ShowOptions &options) {
    checkCardName(options.name);
    mount(media);
    const std::vector<MERStructure> records = loadMer(options.name);
    if (options.json)
        std::printf("%s\n", merJson(records).c_str());
    else if (options.csv)
        printCsv(merColumns(), records);
    else
        printMerTable(records);
    return 0;
}

int showTrack(const MediaOptions &media, const ShowOptions &options) {
    checkCardName(options.name);
    mount(media);
    const std::vector<TrackStructure> records = loadTrack(options.name);
    if (!options.svg.empty()) {
        writeText(options.svg, trackSvg(options.name, records));
        say("drew " + options.name + " in " + options.svg + ": " + std::to_string(trackSegments(records).size()) +
            " segments");
    } else if (options.json) {
        std::printf("%s\n", trackJson(records).c_str());
    } else if (options.csv) {
        printCsv(trackColumns(), records);
    } else {
        printTrackTable(records);
    }
    return 0;
}

// Reads a CSV file in the columns of --csv: the header line, then one
// record a line. Every line is checked before anything is written.
template <class Record>
std::vector<Record> readCsv(const std::string &path, const std::vector<Column> &columns, void (*init)(Record *)) {
    std::ifstream in(path);
    if (!in) fail("cannot read " + path);
    const std::string header = csvLine(columnNames(columns));
    std::vector<Record> records;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string at = path + " line " + std::to_string(++number) + ": ";
        if (number == 1 && line != header) fail(at + "the header must be " + header);
        if (number == 1 || line.empty()) continue;
        std::vector<std::string> cells;
        try {
            cells = csvSplit(line);
        } catch (const CsvError &error) {
            fail(at + error.what());
        }
        if (cells.size() != columns.size())
            fail(at + std::to_string(cells.size()) + " columns, expected " + std::to_string(columns.size()));
        Record record;
        init(&record);
        try {
            fromTexts(columns, cells, &record);
        } catch (const ColumnError &error) {
            fail(at + error.what());
        }
        records.push_back(record);
    }
    if (number == 0) fail(path + ": empty, the header must be " + header);
    return records;
}

int importMer(const MediaOptions &media, const ImportOptions &options) {
    checkCardName(options.name);
    const auto records = readCsv<MERStructure>(options.csv, merColumns(), P2C_InitMERStructure);
    mount(media);
    saveMer(options.name, records);
    say("wrote " + options.name + ": " + std::to_string(records.size()) + " MER records");
    return 0;
}

int importTrack(const MediaOptions &media, const ImportOptions &options) {
    checkCardName(options.name);
    const auto records = readCsv<TrackStructure>(options.csv, trackColumns(), P2C_InitTrackStructure);
    mount(media);
    saveTrack(options.name, records);
    say("wrote " + options.name + ": " + std::to_string(records.size()) + " track records");
    return 0;
}

std::string kindWords(uint8_t type) {
    static const char *kinds[] = {"?", "long", "word", "byte", "float"};
    const std::string kind = kinds[(type & 0x7F) <= 4 ? type & 0x7F : 0];
    return type & 0x80 ? "signed " + kind : kind;
}

std::string tagValue(uint32_t value, const TagInfo &info) {
    if (info.tagType != 4) return std::to_string(info.tagType & 0x80 ? int64_t(int32_t(value)) : int64_t(value));
    char text[32];
    std::snprintf(text, sizeof text, "%g", double(value) / info.tagScale);
    return text;
}

int showTags(const MediaOptions &media, const std::string &name) {
    checkCardName(name);
    mount(media);
    std::vector<std::vector<std::string>> rows;
    for (const TagRead &read : loadTags(name))
        rows.push_back({std::to_string(read.tag.tagNumber), kindWords(read.info.tagType),
                        tagValue(read.tag.tagValue, read.info),
                        tagValue(read.info.tagMin, read.info) + " to " + tagValue(read.info.tagMax, read.info)});
    printTable({"TAG", "KIND", "VALUE", "RANGE"}, rows);
    return 0;
}

int showRaw(const MediaOptions &media, const std::string &name) {
    checkCardName(name);
    mount(media);
    const RawRead raw = loadRaw(name);
    const RawHeader &header = raw.header;
    std::printf("kind     %s\n", header.rawKind == -1 ? "absent" : std::to_string(header.rawKind).c_str());
    if (header.rawValue == 0xFFFFFFFFu)
        std::printf("value    absent\n");
    else
        std::printf("value    %lu (0x%08lx)\n", (unsigned long)header.rawValue, (unsigned long)header.rawValue);
    std::printf("param    %u\n", unsigned(header.rawParam));
    std::printf("payload  %zu bytes\n", raw.payloadBytes);
    return 0;
}

void addShowVerb(CLI::App &app, Verbs &verbs, const char *verb, const char *about, ShowOptions &options,
                 std::function<int()> run) {
    CLI::App *command = app.add_subcommand(verb, about);
    command->add_option("NAME", options.name, "card file")->required();
    CLI::Option *json = command->add_flag("--json", options.json, "print JSON");
    command->add_flag("--csv", options.csv, "print CSV, in the columns the import reads")->excludes(json);
    verbs[command] = std::move(run);
}

void addImportVerb(CLI::App &app, Verbs &verbs, const char *verb, const char *about, ImportOptions &options,
                   std::function<int()> run) {
    CLI::App *command = app.add_subcommand(verb, about);
    command->add_option("CSV", options.csv, "CSV file in the columns of --csv")->required();
    command->add_option("NAME", options.name, "new card file NAME.EXT")->required();
    verbs[command] = std::move(run);
}

}  // namespace

void addRecordVerbs(CLI::App &app, const MediaOptions &media, Verbs &verbs) {
    static ShowOptions mer, track;
    static ImportOptions merImport, trackImport;
    static std::string tagsName, rawName;

    addShowVerb(app, verbs, "mer", "print the records of a MER file", mer, [&media] { return showMer(media, mer); });
    addShowVerb(app, verbs, "track", "print the records of a track file", track,
                [&media] { return showTrack(media, track); });
    app.get_subcommand("track")->add_option("--svg", track.svg, "draw the track into this SVG file instead");
    addImportVerb(app, verbs, "import-mer", "write a MER file from CSV", merImport,
                  [&media] { return importMer(media, merImport); });
    addImportVerb(app, verbs, "import-track", "write a track file from CSV", trackImport,
                  [&media] { return importTrack(media, trackImport); });

    CLI::App *tags = app.add_subcommand("tags", "print the tags of a tag stream");
    tags->add_option("NAME", tagsName, "card file")->required();
    verbs[tags] = [&media] { return showTags(media, tagsName); };

    CLI::App *raw = app.add_subcommand("raw", "print the header of a raw file and its payload size");
    raw->add_option("NAME", rawName, "card file")->required();
    verbs[raw] = [&media] { return showRaw(media, rawName); };
}

}  // namespace tool
