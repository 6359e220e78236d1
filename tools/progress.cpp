// Progress bars. The library is called from one thread only: withActivity
// hands the whole call to a worker and only draws meanwhile.
#include "progress.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>

namespace tool {
namespace {

bool quietFlag = false;
constexpr int kWidth = 30;

bool terminal() { return !quietFlag && isatty(STDERR_FILENO) == 1; }

}  // namespace

void setQuiet(bool quiet) { quietFlag = quiet; }
bool quiet() { return quietFlag; }

Progress::Progress(std::string label, uint64_t total) : label_(std::move(label)), total_(total), shown_(terminal()) {
    draw(0);
}

Progress::~Progress() {
    if (shown_ && !finished_) std::fputs("\n", stderr);
}

void Progress::update(uint64_t done) { draw(done); }

void Progress::finish() {
    if (finished_) return;
    draw(total_);
    if (shown_) std::fputs("\n", stderr);
    finished_ = true;
}

void Progress::draw(uint64_t done) {
    if (!shown_) return;
    const int percent = total_ == 0 ? 100 : int(std::min<uint64_t>(done, total_) * 100 / total_);
    if (percent == lastPercent_) return;
    lastPercent_ = percent;
    const int filled = percent * kWidth / 100;
    std::fprintf(stderr, "\r%s [%s%s] %3d%%", label_.c_str(), std::string(size_t(filled), '#').c_str(),
                 std::string(size_t(kWidth - filled), '-').c_str(), percent);
    std::fflush(stderr);
}

int16_t withActivity(const std::string &label, const std::function<int16_t()> &work) {
    if (!terminal()) return work();
    auto result = std::async(std::launch::async, work);
    for (int tick = 0; result.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready; ++tick) {
        const int at = tick % (2 * (kWidth - 3));
        const int pos = at < kWidth - 3 ? at : 2 * (kWidth - 3) - at;
        std::fprintf(stderr, "\r%s [%s<=>%s]", label.c_str(), std::string(size_t(pos), ' ').c_str(),
                     std::string(size_t(kWidth - 3 - pos), ' ').c_str());
        std::fflush(stderr);
    }
    const int16_t status = result.get();
    std::fprintf(stderr, "\r%s [%s] 100%%\n", label.c_str(), std::string(kWidth, '#').c_str());
    return status;
}

}  // namespace tool
