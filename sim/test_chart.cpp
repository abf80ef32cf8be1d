#include "sim/test_chart.h"

#include <algorithm>
#include <cmath>

namespace b58::sim {

namespace {

constexpr float kInk = 0.03f;
constexpr float kEdgeDark = 0.05f;
constexpr double kEdgeSlope = 0.087488663525924;  // tan(5 degrees)

bool InRows(const ChartPatch& p, int y) {
    return p.width > 0 && y >= p.top && y < p.top + p.height;
}

void FillSpan(float* rgb[3], int width, int x0, int x1, const std::array<float, 3>& v) {
    x0 = std::max(x0, 0);
    x1 = std::min(x1, width);
    for (int c = 0; c < 3; ++c) std::fill(rgb[c] + std::max(x0, 0), rgb[c] + std::max(x1, x0), v[c]);
}

// Fraction of pixel (x, y) left of the slanted edge, by 4 x 4 supersampling.
float DarkShare(const ChartPatch& p, int x, int y) {
    const double cx = p.left + p.width / 2.0;
    const double cy = p.top + p.height / 2.0;
    int dark = 0;
    for (int sy = 0; sy < 4; ++sy) {
        for (int sx = 0; sx < 4; ++sx) {
            const double px = x + (sx + 0.5) / 4.0;
            const double py = y + (sy + 0.5) / 4.0;
            if (px < cx + (py - cy) * kEdgeSlope) ++dark;
        }
    }
    return dark / 16.0f;
}

}  // namespace

ChartLayout MakeChartLayout(int width, int height) {
    ChartLayout l;
    l.width = width;
    l.height = height;
    const int margin = std::max(4, std::min(24, std::min(width, height) / 10));
    const int m = l.markSize;
    auto mark = [&](int x, int y) {
        if (x >= 0 && y >= 0 && x + m <= width && y + m <= height)
            l.marks.push_back({x, y, m, m, {0.0f, 0.0f, 0.0f}});
    };
    mark(margin, margin);
    mark(width - margin - m, margin);
    mark(margin, height - margin - m);
    mark(width - margin - m, height - margin - m);
    mark((width - m) / 2, (height - m) / 2);

    const int left = margin + m + margin;
    const int usable = width - 2 * left;
    const int size = std::max(2, std::min(120, usable / 16));
    int y = left;
    for (int k = 0; k < 16; ++k) {
        const float g = k / 15.0f;
        l.wedge.push_back({left + k * size, y, size, size, {g, g, g}});
    }
    y += size + size / 3;
    const std::array<std::array<float, 3>, 8> colours = {{{0.80f, 0.08f, 0.08f},
                                                          {0.08f, 0.70f, 0.12f},
                                                          {0.10f, 0.15f, 0.75f},
                                                          {0.10f, 0.65f, 0.75f},
                                                          {0.75f, 0.12f, 0.65f},
                                                          {0.85f, 0.80f, 0.10f},
                                                          {0.90f, 0.45f, 0.08f},
                                                          {0.80f, 0.55f, 0.45f}}};
    for (size_t k = 0; k < colours.size(); ++k) {
        l.colours.push_back({left + static_cast<int>(k) * 2 * size, y, 2 * size, 2 * size, colours[k]});
    }
    y += 2 * size + size / 3;
    const int block = 2 * size;
    l.verticalLines2 = {left, y, block, block, {kInk, kInk, kInk}};
    l.verticalLines4 = {left + block + size / 3, y, block, block, {kInk, kInk, kInk}};
    l.horizontalLines2 = {left + 2 * (block + size / 3), y, block, block, {kInk, kInk, kInk}};
    l.horizontalLines4 = {left + 3 * (block + size / 3), y, block, block, {kInk, kInk, kInk}};
    l.slantedEdge = {left + 4 * (block + size / 3), y, block, block, {kEdgeDark, kEdgeDark, kEdgeDark}};
    // Features that do not fit a small chart are left out.
    auto fits = [&](ChartPatch& p) {
        if (p.left + p.width > width - left || p.top + p.height > height - left) p.width = 0;
    };
    for (ChartPatch* p :
         {&l.verticalLines2, &l.verticalLines4, &l.horizontalLines2, &l.horizontalLines4, &l.slantedEdge}) {
        fits(*p);
    }
    std::erase_if(l.wedge, [&](const ChartPatch& p) { return p.top + p.height > height - left; });
    std::erase_if(l.colours, [&](const ChartPatch& p) {
        return p.left + p.width > width - left || p.top + p.height > height - left;
    });
    return l;
}

TestChart::TestChart(ChartLayout layout)
    : Document(layout.width, layout.height, 300.0, 300.0), layout_(std::move(layout)) {}

void TestChart::Row(int y, float* red, float* green, float* blue) const {
    float* rgb[3] = {red, green, blue};
    const int w = Width();
    const std::array<float, 3> paper = {layout_.paper, layout_.paper, layout_.paper};
    FillSpan(rgb, w, 0, w, paper);
    for (const ChartPatch& p : layout_.wedge) {
        if (InRows(p, y)) FillSpan(rgb, w, p.left, p.left + p.width, p.value);
    }
    for (const ChartPatch& p : layout_.colours) {
        if (InRows(p, y)) FillSpan(rgb, w, p.left, p.left + p.width, p.value);
    }
    auto lines = [&](const ChartPatch& p, int period, bool vertical) {
        if (!InRows(p, y)) return;
        const int thick = period / 2;
        for (int x = p.left; x < p.left + p.width; ++x) {
            const int phase = vertical ? (x - p.left) % period : (y - p.top) % period;
            if (phase < thick) FillSpan(rgb, w, x, x + 1, p.value);
        }
    };
    lines(layout_.verticalLines2, 2, true);
    lines(layout_.verticalLines4, 4, true);
    lines(layout_.horizontalLines2, 2, false);
    lines(layout_.horizontalLines4, 4, false);
    if (InRows(layout_.slantedEdge, y)) {
        const ChartPatch& p = layout_.slantedEdge;
        for (int x = std::max(0, p.left); x < std::min(w, p.left + p.width); ++x) {
            const float share = DarkShare(p, x, y);
            for (int c = 0; c < 3; ++c)
                rgb[c][x] = share * p.value[static_cast<size_t>(c)] + (1.0f - share) * layout_.paper;
        }
    }
    for (const ChartPatch& p : layout_.marks) {
        if (InRows(p, y)) FillSpan(rgb, w, p.left, p.left + p.width, p.value);
    }
}

std::shared_ptr<const TestChart> MakeTestChart(int width, int height) {
    return std::make_shared<const TestChart>(MakeChartLayout(width, height));
}

}  // namespace b58::sim
