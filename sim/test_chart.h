// The built-in test chart, generated at 300 dpi for any size: registration marks at the
// corners and the centre, a grey wedge, colour patches, fine lines in both directions and a
// slanted edge, on paper of reflectance 0.92.
#pragma once

#include <array>
#include <memory>
#include <vector>

#include "sim/document.h"

namespace b58::sim {

struct ChartPatch {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    std::array<float, 3> value{};
};

// Where the chart's features lie, in its own 300-dpi pixels.
struct ChartLayout {
    int width = 0;
    int height = 0;
    float paper = 0.92f;
    int markSize = 16;
    std::vector<ChartPatch> marks;    // solid black squares; left, top is the mark's position
    std::vector<ChartPatch> wedge;    // 16 greys from 0 to 1
    std::vector<ChartPatch> colours;  // red, green, blue, cyan, magenta, yellow, orange, skin
    ChartPatch verticalLines2{};      // one-pixel black lines every 2 pixels, running down
    ChartPatch verticalLines4{};      // two-pixel lines every 4 pixels
    ChartPatch horizontalLines2{};    // one-pixel lines every 2 pixels, running across
    ChartPatch horizontalLines4{};
    ChartPatch slantedEdge{};  // dark left of a line 5 degrees off vertical through its centre
};

ChartLayout MakeChartLayout(int width, int height);

class TestChart final : public Document {
  public:
    explicit TestChart(ChartLayout layout);

    const ChartLayout& Layout() const { return layout_; }
    void Row(int y, float* red, float* green, float* blue) const override;

  private:
    ChartLayout layout_;
};

// A chart of width x height 300-dpi pixels.
std::shared_ptr<const TestChart> MakeTestChart(int width, int height);

}  // namespace b58::sim
