#include "sim/bed_scene.h"

#include <algorithm>
#include <cmath>

#include "sim/bed_layout.h"

namespace b58::sim {

namespace {

int64_t FloorHalf(int64_t v) {
    return v >= 0 ? v / 2 : -((-v + 1) / 2);
}

}  // namespace

DocumentSampler::DocumentSampler(const PlacedDocument& placed, double originX, double originY,
                                 const std::vector<int64_t>& pixels)
    : document_(placed.document), left_(originX + placed.left), top_(originY + placed.top) {
    if (!document_) return;
    const Document& d = *document_;
    const double pitch = 300.0 / d.DpiX();  // 300-dpi units per document column
    const double right = left_ + d.Width() * pitch;
    first_ = static_cast<size_t>(
        std::lower_bound(pixels.begin(), pixels.end(), static_cast<int64_t>(std::floor(left_))) -
        pixels.begin());
    last_ = first_;
    for (size_t i = first_; i < pixels.size() && static_cast<double>(pixels[i]) < right; ++i) {
        const double x0 = static_cast<double>(pixels[i]);
        const double x1 = x0 + 1.0;
        const int u0 = std::max(0, static_cast<int>(std::floor((x0 - left_) / pitch)));
        const int u1 = std::min(d.Width() - 1, static_cast<int>(std::ceil((x1 - left_) / pitch)) - 1);
        tapBegin_.push_back(static_cast<uint32_t>(tapColumn_.size()));
        float total = 0.0f;
        for (int u = u0; u <= u1; ++u) {
            const double c0 = std::max(x0, left_ + u * pitch);
            const double c1 = std::min(x1, left_ + (u + 1) * pitch);
            if (c1 <= c0) continue;
            tapColumn_.push_back(u);
            tapWeight_.push_back(static_cast<float>(c1 - c0));
            total += static_cast<float>(c1 - c0);
            if (columnMax_ < columnMin_) {
                columnMin_ = columnMax_ = u;
            } else {
                columnMin_ = std::min(columnMin_, u);
                columnMax_ = std::max(columnMax_, u);
            }
        }
        coverage_.push_back(total);
        last_ = i + 1;
    }
    tapBegin_.push_back(static_cast<uint32_t>(tapColumn_.size()));
    cachedY_.assign(4, -1);
    cachedRows_.resize(4);
    if (columnMax_ >= columnMin_) blend_.resize(3 * static_cast<size_t>(columnMax_ - columnMin_ + 1));
}

const float* DocumentSampler::CachedRow(int y) {
    for (size_t s = 0; s < cachedY_.size(); ++s) {
        if (cachedY_[s] == y) return cachedRows_[s].data();
    }
    const size_t s = nextSlot_;
    nextSlot_ = (nextSlot_ + 1) % cachedY_.size();
    const size_t w = static_cast<size_t>(document_->Width());
    cachedRows_[s].resize(3 * w);
    float* row = cachedRows_[s].data();
    document_->Row(y, row, row + w, row + 2 * w);
    cachedY_[s] = y;
    return row;
}

void DocumentSampler::Paint(int64_t top600, int height600, float* const out[3]) {
    if (!document_ || first_ == last_ || blend_.empty()) return;
    const Document& d = *document_;
    const double pitch = 300.0 / d.DpiY();
    const double y0 = static_cast<double>(top600) / 2.0;
    const double y1 = y0 + height600 / 2.0;
    const double apertureHeight = y1 - y0;
    const int v0 = std::max(0, static_cast<int>(std::floor((y0 - top_) / pitch)));
    const int v1 = std::min(d.Height() - 1, static_cast<int>(std::ceil((y1 - top_) / pitch)) - 1);
    if (v1 < v0) return;

    const size_t span = static_cast<size_t>(columnMax_ - columnMin_ + 1);
    const size_t w = static_cast<size_t>(d.Width());
    std::fill(blend_.begin(), blend_.end(), 0.0f);
    float rowCoverage = 0.0f;
    for (int v = v0; v <= v1; ++v) {
        const double r0 = std::max(y0, top_ + v * pitch);
        const double r1 = std::min(y1, top_ + (v + 1) * pitch);
        if (r1 <= r0) continue;
        const float weight = static_cast<float>((r1 - r0) / apertureHeight);
        rowCoverage += weight;
        const float* row = CachedRow(v);
        for (size_t c = 0; c < 3; ++c) {
            const float* src = row + c * w + columnMin_;
            float* dst = blend_.data() + c * span;
            for (size_t k = 0; k < span; ++k) dst[k] += weight * src[k];
        }
    }
    if (rowCoverage <= 0.0f) return;

    for (size_t i = first_; i < last_; ++i) {
        const size_t j = i - first_;
        const float cover = coverage_[j] * rowCoverage;
        if (cover <= 0.0f) continue;
        for (size_t c = 0; c < 3; ++c) {
            const float* b = blend_.data() + c * span;
            float value = 0.0f;
            for (uint32_t t = tapBegin_[j]; t < tapBegin_[j + 1]; ++t) {
                value += tapWeight_[t] * b[tapColumn_[t] - columnMin_];
            }
            out[c][i] = out[c][i] * (1.0f - cover) + value;
        }
    }
}

BedScene::BedScene(const BedContents& contents, std::vector<int64_t> pixels) : pixels_(std::move(pixels)) {
    if (contents.document.document) {
        document_ =
            std::make_unique<DocumentSampler>(contents.document, bed::kGlassLeft, bed::kGlassTop, pixels_);
    }
    if (contents.film.document) {
        film_ = std::make_unique<DocumentSampler>(contents.film, bed::kFilmLeft,
                                                  bed::kTaOriginLine + bed::kFilmTop, pixels_);
    }
}

void BedScene::Fill(float* const out[3], int64_t fromPixel, int64_t toPixel, float value) const {
    const auto b = std::lower_bound(pixels_.begin(), pixels_.end(), fromPixel) - pixels_.begin();
    const auto e = std::lower_bound(pixels_.begin(), pixels_.end(), toPixel) - pixels_.begin();
    for (size_t c = 0; c < 3; ++c) std::fill(out[c] + b, out[c] + e, value);
}

void BedScene::Reflectance(const LineAperture& aperture, float* const out[3]) {
    constexpr int64_t kAll0 = INT64_MIN / 4;
    constexpr int64_t kAll1 = INT64_MAX / 4;
    const int64_t line = FloorHalf(aperture.top600);
    if (line < 0) {
        Fill(out, kAll0, kAll1, bed::kHousingReflectance);
        return;
    }
    if (line < bed::kWhiteStripBottom) {
        Fill(out, kAll0, kAll1, bed::kWhiteStripReflectance);
        if (line < bed::kDarkBlockBottom) Fill(out, kAll0, bed::kDarkBlockRight, bed::kDarkBlockReflectance);
        return;
    }
    Fill(out, kAll0, kAll1, bed::kBezelReflectance);
    if (line >= bed::kGlassTop && line < bed::kGlassTop + bed::kGlassHeight) {
        Fill(out, bed::kGlassLeft, bed::kGlassLeft + bed::kGlassWidth, bed::kLidReflectance);
        if (document_) document_->Paint(aperture.top600, aperture.height600, out);
        // A document reaching past the glass is cut off by the bezel.
        Fill(out, kAll0, bed::kGlassLeft, bed::kBezelReflectance);
        Fill(out, bed::kGlassLeft + bed::kGlassWidth, kAll1, bed::kBezelReflectance);
    }
}

void BedScene::Transmittance(const LineAperture& aperture, float* const out[3]) {
    constexpr int64_t kAll0 = INT64_MIN / 4;
    constexpr int64_t kAll1 = INT64_MAX / 4;
    Fill(out, kAll0, kAll1, 0.0f);
    const int64_t row = FloorHalf(aperture.top600) - bed::kTaOriginLine;
    if (row < 0 || row >= bed::kTaWindowHeight) return;
    if (row < bed::kTaHolderTop) {
        Fill(out, bed::kTaWindowLeft, bed::kTaWindowLeft + bed::kTaWindowWidth, 1.0f);
        return;
    }
    if (row >= bed::kFilmTop && row < bed::kFilmTop + bed::kFilmHeight) {
        Fill(out, bed::kFilmLeft, bed::kFilmLeft + bed::kFilmWidth, 1.0f);
        if (film_) film_->Paint(aperture.top600, aperture.height600, out);
        Fill(out, kAll0, bed::kFilmLeft, 0.0f);
        Fill(out, bed::kFilmLeft + bed::kFilmWidth, kAll1, 0.0f);
        Fill(out, bed::kTaSlotLeft, bed::kTaSlotLeft + bed::kTaSlotWidth, 1.0f);
    }
}

}  // namespace b58::sim
