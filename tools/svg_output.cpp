#include "svg_output.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "records.h"

namespace tool {
namespace {

constexpr double kWidth = 800, kHeight = 600, kMargin = 20;

struct Box {
    double left = std::numeric_limits<double>::max(), bottom = left;
    double right = std::numeric_limits<double>::lowest(), top = right;
    void add(double x, double y) {
        left = std::min(left, x), right = std::max(right, x);
        bottom = std::min(bottom, y), top = std::max(top, y);
    }
};

std::string escaped(const std::string &text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

// One scale for both axes, so that the track keeps its shape.
struct Fit {
    Box box;
    double scale;
    explicit Fit(const Box &b) : box(b) {
        const double spanX = std::max(box.right - box.left, 1.0), spanY = std::max(box.top - box.bottom, 1.0);
        scale = std::min((kWidth - 2 * kMargin) / spanX, (kHeight - 2 * kMargin) / spanY);
    }
    std::string point(const TrackStructure &p) const {
        char text[64];
        std::snprintf(text, sizeof text, "%.2f,%.2f", kMargin + (p.coord1 - box.left) * scale,
                      kHeight - kMargin - (p.coord2 - box.bottom) * scale);
        return text;
    }
};

}  // namespace

std::vector<std::vector<const TrackStructure *>> trackSegments(const std::vector<TrackStructure> &records) {
    std::vector<std::vector<const TrackStructure *>> segments(1);
    for (const TrackStructure &record : records) {
        if (!isBreak(record))
            segments.back().push_back(&record);
        else if (!segments.back().empty())
            segments.emplace_back();
    }
    if (segments.back().empty()) segments.pop_back();
    return segments;
}

std::string trackSvg(const std::string &title, const std::vector<TrackStructure> &records) {
    const auto segments = trackSegments(records);
    Box box;
    for (const auto &segment : segments)
        for (const TrackStructure *p : segment) box.add(p->coord1, p->coord2);
    const Fit fit(box);
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"800\" height=\"600\" viewBox=\"0 0 800 600\">\n"
                      "  <title>" + escaped(title) + "</title>\n";
    for (const auto &segment : segments) {
        svg += "  <polyline fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"2\" points=\"";
        for (size_t i = 0; i < segment.size(); ++i) svg += (i ? " " : "") + fit.point(*segment[i]);
        svg += "\"/>\n";
    }
    return svg + "</svg>\n";
}

}  // namespace tool
