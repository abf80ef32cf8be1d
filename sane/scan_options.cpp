#include "scan_options.h"

#include <sane/saneopts.h>

#include <strings.h>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace b58::sane {
namespace {

constexpr SANE_Int kSettable = SANE_CAP_SOFT_SELECT | SANE_CAP_SOFT_DETECT;

const char* const kModeNames[] = {SANE_VALUE_SCAN_MODE_LINEART, SANE_VALUE_SCAN_MODE_GRAY,
                                  SANE_VALUE_SCAN_MODE_COLOR};

SANE_Option_Descriptor Group(const char* name, const char* title) {
    SANE_Option_Descriptor d{};
    d.name = name;
    d.title = title;
    d.desc = "";
    d.type = SANE_TYPE_GROUP;
    d.cap = 0;
    d.constraint_type = SANE_CONSTRAINT_NONE;
    return d;
}

SANE_Option_Descriptor Option(const char* name, const char* title, const char* desc, SANE_Value_Type type,
                              SANE_Unit unit, SANE_Int size, SANE_Int cap) {
    SANE_Option_Descriptor d{};
    d.name = name;
    d.title = title;
    d.desc = desc;
    d.type = type;
    d.unit = unit;
    d.size = size;
    d.cap = cap;
    d.constraint_type = SANE_CONSTRAINT_NONE;
    return d;
}

SANE_Fixed Millimetres(double mm) {
    return SANE_FIX(mm);
}

// A word within a range: clamped, and moved onto the range's quantisation.
SANE_Word Constrain(const SANE_Range& range, SANE_Word value) {
    value = std::clamp(value, range.min, range.max);
    if (range.quant > 0) {
        value = range.min + (value - range.min + range.quant / 2) / range.quant * range.quant;
        value = std::min(value, range.max);
    }
    return value;
}

// The member of a word list ([count, values...]) nearest to `value`.
SANE_Word Nearest(const SANE_Word* list, SANE_Word value) {
    SANE_Word best = list[1];
    for (SANE_Word i = 1; i <= list[0]; ++i) {
        if (std::llabs(static_cast<long long>(list[i]) - value) <
            std::llabs(static_cast<long long>(best) - value))
            best = list[i];
    }
    return best;
}

void SetActive(SANE_Option_Descriptor& d, bool active) {
    d.cap = active ? (d.cap & ~SANE_CAP_INACTIVE) : (d.cap | SANE_CAP_INACTIVE);
}

}  // namespace

int PreviewResolution(const std::vector<int>& resolutions) {
    for (int dpi : resolutions) {
        if (dpi >= 75) return dpi;
    }
    return resolutions.empty() ? 0 : resolutions.back();
}

ScanOptions::ScanOptions(ScannerCapabilities capabilities) : capabilities_(std::move(capabilities)) {
    auto& d = descriptors_;
    d[kOptCount] = Option(SANE_NAME_NUM_OPTIONS, SANE_TITLE_NUM_OPTIONS, SANE_DESC_NUM_OPTIONS, SANE_TYPE_INT,
                          SANE_UNIT_NONE, sizeof(SANE_Word), SANE_CAP_SOFT_DETECT);

    d[kOptModeGroup] = Group(SANE_NAME_STANDARD, SANE_TITLE_STANDARD);
    d[kOptMode] = Option(SANE_NAME_SCAN_MODE, SANE_TITLE_SCAN_MODE, SANE_DESC_SCAN_MODE, SANE_TYPE_STRING,
                         SANE_UNIT_NONE, 0, kSettable);
    modeNames_.assign(std::begin(kModeNames), std::end(kModeNames));
    modeNames_.push_back(nullptr);
    for (const char* name : kModeNames)
        d[kOptMode].size = std::max<SANE_Int>(d[kOptMode].size, std::strlen(name) + 1);
    d[kOptMode].constraint_type = SANE_CONSTRAINT_STRING_LIST;
    d[kOptMode].constraint.string_list = modeNames_.data();

    d[kOptDepth] = Option(SANE_NAME_BIT_DEPTH, SANE_TITLE_BIT_DEPTH, SANE_DESC_BIT_DEPTH, SANE_TYPE_INT,
                          SANE_UNIT_BIT, sizeof(SANE_Word), kSettable);
    d[kOptDepth].constraint_type = SANE_CONSTRAINT_WORD_LIST;
    d[kOptDepth].constraint.word_list = depthList_.data();

    d[kOptResolution] =
        Option(SANE_NAME_SCAN_RESOLUTION, SANE_TITLE_SCAN_RESOLUTION, SANE_DESC_SCAN_RESOLUTION,
               SANE_TYPE_INT, SANE_UNIT_DPI, sizeof(SANE_Word), kSettable);
    resolutionList_.push_back(static_cast<SANE_Word>(capabilities_.resolutions.size()));
    for (int dpi : capabilities_.resolutions) resolutionList_.push_back(dpi);
    d[kOptResolution].constraint_type = SANE_CONSTRAINT_WORD_LIST;
    d[kOptResolution].constraint.word_list = resolutionList_.data();

    d[kOptSource] = Option(SANE_NAME_SCAN_SOURCE, SANE_TITLE_SCAN_SOURCE, SANE_DESC_SCAN_SOURCE,
                           SANE_TYPE_STRING, SANE_UNIT_NONE, 0, kSettable);
    for (const ScanSourceInfo& source : capabilities_.sources) {
        sourceNames_.push_back(source.name);
        d[kOptSource].size = std::max<SANE_Int>(d[kOptSource].size, std::strlen(source.name) + 1);
    }
    sourceNames_.push_back(nullptr);
    d[kOptSource].constraint_type = SANE_CONSTRAINT_STRING_LIST;
    d[kOptSource].constraint.string_list = sourceNames_.data();

    d[kOptPreview] = Option(SANE_NAME_PREVIEW, SANE_TITLE_PREVIEW, SANE_DESC_PREVIEW, SANE_TYPE_BOOL,
                            SANE_UNIT_NONE, sizeof(SANE_Word), kSettable);

    d[kOptThreshold] = Option(SANE_NAME_THRESHOLD, SANE_TITLE_THRESHOLD, SANE_DESC_THRESHOLD, SANE_TYPE_INT,
                              SANE_UNIT_NONE, sizeof(SANE_Word), kSettable);
    thresholdRange_ = {0, 255, 1};
    d[kOptThreshold].constraint_type = SANE_CONSTRAINT_RANGE;
    d[kOptThreshold].constraint.range = &thresholdRange_;

    d[kOptGeometryGroup] = Group(SANE_NAME_GEOMETRY, SANE_TITLE_GEOMETRY);
    const struct {
        SANE_Int index;
        const char *name, *title, *desc;
        const SANE_Range* range;
    } kEdges[] = {
        {kOptTlX, SANE_NAME_SCAN_TL_X, SANE_TITLE_SCAN_TL_X, SANE_DESC_SCAN_TL_X, &xRange_},
        {kOptTlY, SANE_NAME_SCAN_TL_Y, SANE_TITLE_SCAN_TL_Y, SANE_DESC_SCAN_TL_Y, &yRange_},
        {kOptBrX, SANE_NAME_SCAN_BR_X, SANE_TITLE_SCAN_BR_X, SANE_DESC_SCAN_BR_X, &xRange_},
        {kOptBrY, SANE_NAME_SCAN_BR_Y, SANE_TITLE_SCAN_BR_Y, SANE_DESC_SCAN_BR_Y, &yRange_},
    };
    for (const auto& edge : kEdges) {
        d[edge.index] = Option(edge.name, edge.title, edge.desc, SANE_TYPE_FIXED, SANE_UNIT_MM,
                               sizeof(SANE_Word), kSettable);
        d[edge.index].constraint_type = SANE_CONSTRAINT_RANGE;
        d[edge.index].constraint.range = edge.range;
    }

    d[kOptEnhancementGroup] = Group(SANE_NAME_ENHANCEMENT, SANE_TITLE_ENHANCEMENT);
    d[kOptCustomGamma] = Option(SANE_NAME_CUSTOM_GAMMA, SANE_TITLE_CUSTOM_GAMMA, SANE_DESC_CUSTOM_GAMMA,
                                SANE_TYPE_BOOL, SANE_UNIT_NONE, sizeof(SANE_Word), kSettable);
    const struct {
        SANE_Int index;
        const char *name, *title, *desc;
    } kTables[] = {
        {kOptGammaVector, SANE_NAME_GAMMA_VECTOR, SANE_TITLE_GAMMA_VECTOR, SANE_DESC_GAMMA_VECTOR},
        {kOptGammaVectorR, SANE_NAME_GAMMA_VECTOR_R, SANE_TITLE_GAMMA_VECTOR_R, SANE_DESC_GAMMA_VECTOR_R},
        {kOptGammaVectorG, SANE_NAME_GAMMA_VECTOR_G, SANE_TITLE_GAMMA_VECTOR_G, SANE_DESC_GAMMA_VECTOR_G},
        {kOptGammaVectorB, SANE_NAME_GAMMA_VECTOR_B, SANE_TITLE_GAMMA_VECTOR_B, SANE_DESC_GAMMA_VECTOR_B},
    };
    for (const auto& table : kTables) {
        d[table.index] =
            Option(table.name, table.title, table.desc, SANE_TYPE_INT, SANE_UNIT_NONE, 0, kSettable);
        d[table.index].constraint_type = SANE_CONSTRAINT_RANGE;
        d[table.index].constraint.range = &gammaRange_;
    }

    d[kOptSensorsGroup] = Group(SANE_NAME_SENSORS, SANE_TITLE_SENSORS);
    d[kOptScanButton] =
        Option(SANE_NAME_SCAN, SANE_TITLE_SCAN, SANE_DESC_SCAN, SANE_TYPE_BOOL, SANE_UNIT_NONE,
               sizeof(SANE_Word), SANE_CAP_HARD_SELECT | SANE_CAP_SOFT_DETECT);

    // Defaults: colour, 8 bits, 300 dpi (or the nearest offered), the whole flatbed.
    resolution_ = resolutionList_.size() > 1 ? Nearest(resolutionList_.data(), 300) : 0;
    SANE_Int info = 0;
    UpdateForSource(info);
    brX_ = xRange_.max;
    brY_ = yRange_.max;
    UpdateForMode(info);
}

const SANE_Option_Descriptor* ScanOptions::Descriptor(SANE_Int option) const {
    if (option < 0 || option >= kOptionCount) return nullptr;
    return &descriptors_[option];
}

int ScanOptions::GammaEntries() const {
    return depth_ == 16 ? 65536 : 256;
}

void ScanOptions::UpdateActivity() {
    auto& d = descriptors_;
    SetActive(d[kOptThreshold], mode_ == ScanMode::Lineart);
    const bool color = mode_ == ScanMode::Color;
    SetActive(d[kOptGammaVector], customGamma_ && !color);
    for (SANE_Int i : {kOptGammaVectorR, kOptGammaVectorG, kOptGammaVectorB})
        SetActive(d[i], customGamma_ && color);
}

// Depths offered per mode; a depth the new mode lacks becomes the nearest it has.
void ScanOptions::UpdateForMode(SANE_Int& info) {
    if (mode_ == ScanMode::Lineart) {
        depthList_ = {1, 1, 0};
    } else if (mode_ == ScanMode::Gray && !capabilities_.gray16) {
        depthList_ = {1, 8, 0};
    } else {
        depthList_ = {2, 8, 16};
    }
    const SANE_Int depth = Nearest(depthList_.data(), depth_);
    if (depth != depth_) {
        depth_ = depth;
        UpdateGammaSize(info);
    } else if (gamma_[0].empty()) {
        UpdateGammaSize(info);
    }
    UpdateActivity();
    info |= SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS;
}

// The area's ranges follow the source; edges outside the new ranges move inside.
void ScanOptions::UpdateForSource(SANE_Int& info) {
    xRange_ = {0, Millimetres(Source().widthMm), 0};
    yRange_ = {0, Millimetres(Source().heightMm), 0};
    for (SANE_Fixed* x : {&tlX_, &brX_}) *x = Constrain(xRange_, *x);
    for (SANE_Fixed* y : {&tlY_, &brY_}) *y = Constrain(yRange_, *y);
    info |= SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS;
}

// Tables hold one entry per input level; a change of size starts them afresh as the
// identity.
void ScanOptions::UpdateGammaSize(SANE_Int& info) {
    const int entries = GammaEntries();
    gammaRange_ = {0, entries - 1, 1};
    for (SANE_Int i : {kOptGammaVector, kOptGammaVectorR, kOptGammaVectorG, kOptGammaVectorB}) {
        descriptors_[i].size = static_cast<SANE_Int>(entries * sizeof(SANE_Word));
    }
    for (auto& table : gamma_) {
        if (static_cast<int>(table.size()) == entries) continue;
        table.resize(entries);
        for (int i = 0; i < entries; ++i) table[i] = i;
    }
    info |= SANE_INFO_RELOAD_OPTIONS;
}

SANE_Status ScanOptions::Control(SANE_Int option, SANE_Action action, void* value, SANE_Int* info,
                                 bool scanning, const std::function<bool()>& buttonState) {
    if (info != nullptr) *info = 0;
    if (option < 0 || option >= kOptionCount) return SANE_STATUS_INVAL;
    const SANE_Option_Descriptor& d = descriptors_[option];
    if (d.type == SANE_TYPE_GROUP || !SANE_OPTION_IS_ACTIVE(d.cap)) return SANE_STATUS_INVAL;
    if (action == SANE_ACTION_GET_VALUE) {
        if (value == nullptr) return SANE_STATUS_INVAL;
        return Get(option, value, buttonState);
    }
    if (action == SANE_ACTION_SET_AUTO) return SANE_STATUS_INVAL;  // no option has SANE_CAP_AUTOMATIC
    if (action != SANE_ACTION_SET_VALUE || value == nullptr || !SANE_OPTION_IS_SETTABLE(d.cap))
        return SANE_STATUS_INVAL;
    if (scanning) return SANE_STATUS_DEVICE_BUSY;
    SANE_Int changed = 0;
    const SANE_Status status = Set(option, value, changed);
    if (status == SANE_STATUS_GOOD && info != nullptr) *info = changed;
    return status;
}

SANE_Status ScanOptions::Get(SANE_Int option, void* value, const std::function<bool()>& buttonState) const {
    auto* word = static_cast<SANE_Word*>(value);
    switch (option) {
        case kOptCount:
            *word = kOptionCount;
            break;
        case kOptMode:
            std::strcpy(static_cast<char*>(value), kModeNames[static_cast<int>(mode_)]);
            break;
        case kOptDepth:
            *word = depth_;
            break;
        case kOptResolution:
            *word = resolution_;
            break;
        case kOptSource:
            std::strcpy(static_cast<char*>(value), Source().name);
            break;
        case kOptPreview:
            *word = preview_;
            break;
        case kOptThreshold:
            *word = threshold_;
            break;
        case kOptTlX:
            *word = tlX_;
            break;
        case kOptTlY:
            *word = tlY_;
            break;
        case kOptBrX:
            *word = brX_;
            break;
        case kOptBrY:
            *word = brY_;
            break;
        case kOptCustomGamma:
            *word = customGamma_;
            break;
        case kOptGammaVector:
        case kOptGammaVectorR:
        case kOptGammaVectorG:
        case kOptGammaVectorB: {
            const auto& table = gamma_[option - kOptGammaVector];
            std::memcpy(value, table.data(), table.size() * sizeof(SANE_Word));
            break;
        }
        case kOptScanButton:
            *word = buttonState && buttonState() ? SANE_TRUE : SANE_FALSE;
            break;
        default:
            return SANE_STATUS_INVAL;
    }
    return SANE_STATUS_GOOD;
}

SANE_Status ScanOptions::Set(SANE_Int option, void* value, SANE_Int& info) {
    const SANE_Option_Descriptor& d = descriptors_[option];
    auto* word = static_cast<SANE_Word*>(value);

    if (d.type == SANE_TYPE_BOOL && *word != SANE_FALSE && *word != SANE_TRUE) return SANE_STATUS_INVAL;
    if (d.type == SANE_TYPE_STRING) {
        // An exact name, or one that differs only in case (then reported inexact).
        const char* text = static_cast<const char*>(value);
        const SANE_String_Const* names = d.constraint.string_list;
        size_t match = SIZE_MAX;
        for (size_t i = 0; names[i] != nullptr; ++i) {
            if (std::strcmp(names[i], text) == 0) {
                match = i;
                break;
            }
            if (match == SIZE_MAX && strcasecmp(names[i], text) == 0) {
                match = i;
                info |= SANE_INFO_INEXACT;
            }
        }
        if (match == SIZE_MAX) return SANE_STATUS_INVAL;
        if (option == kOptMode) {
            if (mode_ != static_cast<ScanMode>(match)) {
                mode_ = static_cast<ScanMode>(match);
                UpdateForMode(info);
            }
        } else if (sourceIndex_ != match) {
            sourceIndex_ = match;
            UpdateForSource(info);
        }
        return SANE_STATUS_GOOD;
    }

    // Words: clamped to a range or moved to the nearest member of a list, inexact if so.
    auto constrained = [&](SANE_Word v) {
        SANE_Word result = v;
        if (d.constraint_type == SANE_CONSTRAINT_RANGE) result = Constrain(*d.constraint.range, v);
        if (d.constraint_type == SANE_CONSTRAINT_WORD_LIST) result = Nearest(d.constraint.word_list, v);
        if (result != v) info |= SANE_INFO_INEXACT;
        return result;
    };
    switch (option) {
        case kOptDepth: {
            const SANE_Int depth = constrained(*word);
            if (depth != depth_) {
                depth_ = depth;
                UpdateGammaSize(info);
                info |= SANE_INFO_RELOAD_PARAMS;
            }
            break;
        }
        case kOptResolution:
            resolution_ = constrained(*word);
            info |= SANE_INFO_RELOAD_PARAMS;
            break;
        case kOptPreview:
            preview_ = *word;
            info |= SANE_INFO_RELOAD_PARAMS;
            break;
        case kOptThreshold:
            threshold_ = constrained(*word);
            break;
        case kOptTlX:
        case kOptTlY:
        case kOptBrX:
        case kOptBrY: {
            SANE_Fixed* edges[] = {&tlX_, &tlY_, &brX_, &brY_};
            *edges[option - kOptTlX] = constrained(*word);
            info |= SANE_INFO_RELOAD_PARAMS;
            break;
        }
        case kOptCustomGamma:
            if (customGamma_ != *word) {
                customGamma_ = *word;
                UpdateActivity();
                info |= SANE_INFO_RELOAD_OPTIONS;
            }
            break;
        case kOptGammaVector:
        case kOptGammaVectorR:
        case kOptGammaVectorG:
        case kOptGammaVectorB: {
            auto& table = gamma_[option - kOptGammaVector];
            for (size_t i = 0; i < table.size(); ++i) table[i] = constrained(word[i]);
            break;
        }
        default:
            return SANE_STATUS_INVAL;
    }
    // The value the frontend handed in now reads back as the value taken.
    if (d.type != SANE_TYPE_STRING && (info & SANE_INFO_INEXACT) != 0) Get(option, value, {});
    return SANE_STATUS_GOOD;
}

ScanSettings ScanOptions::Settings() const {
    ScanSettings s;
    s.mode = mode_;
    s.depth = depth_;
    s.resolution = resolution_;
    if (preview_) {
        s.resolution = std::min(s.resolution, PreviewResolution(capabilities_.resolutions));
        if (s.depth == 16) s.depth = 8;
    }
    s.source = &Source();
    s.leftMm = SANE_UNFIX(std::min(tlX_, brX_));
    s.rightMm = SANE_UNFIX(std::max(tlX_, brX_));
    s.topMm = SANE_UNFIX(std::min(tlY_, brY_));
    s.bottomMm = SANE_UNFIX(std::max(tlY_, brY_));
    s.threshold = threshold_;
    if (customGamma_) {
        const size_t entries = s.depth == 16 ? 65536 : 256;
        s.gamma.resize(3 * entries);
        for (size_t c = 0; c < 3; ++c) {
            const auto& table = gamma_[mode_ == ScanMode::Color ? 1 + c : 0];
            for (size_t i = 0; i < entries; ++i) {
                // A preview at 8 bits samples the 16-bit table.
                const size_t from = table.size() == entries ? i : i * (table.size() / entries);
                SANE_Word v = table[from];
                if (table.size() != entries) v /= static_cast<SANE_Word>(table.size() / entries);
                s.gamma[c * entries + i] = static_cast<uint16_t>(v);
            }
        }
    }
    return s;
}

}  // namespace b58::sane
