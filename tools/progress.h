// Progress of long work, drawn on standard error when it is a terminal.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace tool {

// Off with --quiet; the bar is drawn only when standard error is a terminal.
void setQuiet(bool quiet);
bool quiet();

// A bar for work of a known size: "put big.bin [#####-----]  50%".
class Progress {
public:
    Progress(std::string label, uint64_t total);
    ~Progress();
    void update(uint64_t done);
    void finish();  // draws 100% and ends the line

private:
    void draw(uint64_t done);
    std::string label_;
    uint64_t total_;
    int lastPercent_ = -1;
    bool shown_;
    bool finished_ = false;
};

// Runs work whose progress cannot be measured (one long library call)
// while a bar moves to and fro; without a terminal it just runs it.
int16_t withActivity(const std::string &label, const std::function<int16_t()> &work);

}  // namespace tool
