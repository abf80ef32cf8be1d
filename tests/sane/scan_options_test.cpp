// The option set on its own: descriptors, constraints, SANE_INFO flags and the settings a
// scan is built from; and b58.conf parsing.
#include "scan_options.h"

#include <gtest/gtest.h>
#include <sane/saneopts.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "backend_config.h"

namespace b58::sane {
namespace {

ScannerCapabilities TestCapabilities() {
    ScannerCapabilities c;
    c.resolutions = {50, 100, 150, 300, 600};
    c.sources = {{"Flatbed", 0, 215.9, 297.0}, {"Transparency Adapter type 1", 1, 38.1, 127.0}};
    return c;
}

struct sane_options : ::testing::Test {
    ScanOptions options{TestCapabilities()};

    SANE_Status SetWord(SANE_Int option, SANE_Word value, SANE_Word* taken = nullptr,
                        SANE_Int* info = nullptr) {
        SANE_Int ignored = 0;
        SANE_Status status = options.Control(option, SANE_ACTION_SET_VALUE, &value,
                                             info != nullptr ? info : &ignored, false, {});
        if (taken != nullptr) *taken = value;
        return status;
    }
    SANE_Status SetString(SANE_Int option, const char* text, SANE_Int* info = nullptr) {
        char buffer[64];
        std::strcpy(buffer, text);
        SANE_Int ignored = 0;
        return options.Control(option, SANE_ACTION_SET_VALUE, buffer, info != nullptr ? info : &ignored,
                               false, {});
    }
    SANE_Word GetWord(SANE_Int option) {
        SANE_Word value = -1;
        EXPECT_EQ(options.Control(option, SANE_ACTION_GET_VALUE, &value, nullptr, false, {}),
                  SANE_STATUS_GOOD);
        return value;
    }
    bool Active(SANE_Int option) { return SANE_OPTION_IS_ACTIVE(options.Descriptor(option)->cap); }
};

TEST_F(sane_options, DescriptorsCarryTheStandardNamesTypesAndUnits) {
    const struct {
        SANE_Int option;
        const char* name;
        SANE_Value_Type type;
        SANE_Unit unit;
    } kExpected[] = {
        {kOptMode, SANE_NAME_SCAN_MODE, SANE_TYPE_STRING, SANE_UNIT_NONE},
        {kOptDepth, SANE_NAME_BIT_DEPTH, SANE_TYPE_INT, SANE_UNIT_BIT},
        {kOptResolution, SANE_NAME_SCAN_RESOLUTION, SANE_TYPE_INT, SANE_UNIT_DPI},
        {kOptSource, SANE_NAME_SCAN_SOURCE, SANE_TYPE_STRING, SANE_UNIT_NONE},
        {kOptPreview, SANE_NAME_PREVIEW, SANE_TYPE_BOOL, SANE_UNIT_NONE},
        {kOptThreshold, SANE_NAME_THRESHOLD, SANE_TYPE_INT, SANE_UNIT_NONE},
        {kOptTlX, SANE_NAME_SCAN_TL_X, SANE_TYPE_FIXED, SANE_UNIT_MM},
        {kOptBrY, SANE_NAME_SCAN_BR_Y, SANE_TYPE_FIXED, SANE_UNIT_MM},
        {kOptCustomGamma, SANE_NAME_CUSTOM_GAMMA, SANE_TYPE_BOOL, SANE_UNIT_NONE},
        {kOptGammaVectorG, SANE_NAME_GAMMA_VECTOR_G, SANE_TYPE_INT, SANE_UNIT_NONE},
        {kOptScanButton, SANE_NAME_SCAN, SANE_TYPE_BOOL, SANE_UNIT_NONE},
    };
    EXPECT_EQ(GetWord(kOptCount), kOptionCount);
    for (const auto& e : kExpected) {
        const SANE_Option_Descriptor* d = options.Descriptor(e.option);
        ASSERT_NE(d, nullptr);
        EXPECT_STREQ(d->name, e.name);
        EXPECT_EQ(d->type, e.type) << e.name;
        EXPECT_EQ(d->unit, e.unit) << e.name;
    }
    const SANE_Int button = options.Descriptor(kOptScanButton)->cap;
    EXPECT_TRUE((button & SANE_CAP_HARD_SELECT) && (button & SANE_CAP_SOFT_DETECT) &&
                !(button & SANE_CAP_SOFT_SELECT));
    EXPECT_EQ(options.Descriptor(kOptionCount), nullptr);
    EXPECT_EQ(options.Descriptor(-1), nullptr);
}

TEST_F(sane_options, OutOfRangeValuesAreTakenInexactAndReadBack) {
    const struct {
        SANE_Int option;
        SANE_Word asked, taken;
    } kCases[] = {
        {kOptResolution, 1200, 600},
        {kOptResolution, 1, 50},
        {kOptResolution, 240, 300},
        {kOptTlX, SANE_FIX(-5), 0},
        {kOptBrX, SANE_FIX(400), SANE_FIX(215.9)},
        {kOptBrY, SANE_FIX(1000), SANE_FIX(297.0)},
        {kOptDepth, 12, 8},
        {kOptDepth, 32, 16},
    };
    for (const auto& c : kCases) {
        SANE_Word taken = 0;
        SANE_Int info = 0;
        EXPECT_EQ(SetWord(c.option, c.asked, &taken, &info), SANE_STATUS_GOOD) << c.option;
        EXPECT_EQ(taken, c.taken) << c.option;
        EXPECT_EQ(GetWord(c.option), c.taken) << c.option;
        EXPECT_TRUE(info & SANE_INFO_INEXACT) << c.option;
    }
    SANE_Int info = 0;
    EXPECT_EQ(SetWord(kOptResolution, 150, nullptr, &info), SANE_STATUS_GOOD);
    EXPECT_EQ(info, SANE_INFO_RELOAD_PARAMS);  // exact: no INEXACT
}

TEST_F(sane_options, InvalidRequestsAreRefused) {
    SANE_Word value = 0;
    EXPECT_EQ(SetWord(kOptPreview, 2), SANE_STATUS_INVAL);             // not a SANE_Bool
    EXPECT_EQ(SetString(kOptMode, "Halftone"), SANE_STATUS_INVAL);     // not in the list
    EXPECT_EQ(SetWord(kOptThreshold, 10), SANE_STATUS_INVAL);          // inactive outside line art
    EXPECT_EQ(SetWord(kOptScanButton, SANE_TRUE), SANE_STATUS_INVAL);  // a sensor
    EXPECT_EQ(SetWord(kOptCount, 3), SANE_STATUS_INVAL);
    EXPECT_EQ(SetWord(kOptModeGroup, 0), SANE_STATUS_INVAL);
    EXPECT_EQ(options.Control(kOptionCount, SANE_ACTION_GET_VALUE, &value, nullptr, false, {}),
              SANE_STATUS_INVAL);
    EXPECT_EQ(options.Control(kOptResolution, SANE_ACTION_SET_AUTO, nullptr, nullptr, false, {}),
              SANE_STATUS_INVAL);
    EXPECT_EQ(options.Control(kOptResolution, SANE_ACTION_SET_VALUE, nullptr, nullptr, false, {}),
              SANE_STATUS_INVAL);
    value = 150;
    EXPECT_EQ(options.Control(kOptResolution, SANE_ACTION_SET_VALUE, &value, nullptr, true, {}),
              SANE_STATUS_DEVICE_BUSY);
    EXPECT_EQ(GetWord(kOptResolution), 300);
}

TEST_F(sane_options, ModeSetsDepthsThresholdAndGammaTables) {
    ASSERT_EQ(SetWord(kOptDepth, 16), SANE_STATUS_GOOD);
    ASSERT_EQ(SetWord(kOptCustomGamma, SANE_TRUE), SANE_STATUS_GOOD);
    EXPECT_EQ(options.Descriptor(kOptGammaVectorR)->size, 65536 * static_cast<SANE_Int>(sizeof(SANE_Word)));
    const struct {
        const char* mode;
        SANE_Word depth;
        bool threshold, master, colour;
        SANE_Int tableEntries;
    } kModes[] = {
        {"Gray", 8, false, true, false, 256},
        {"Lineart", 1, true, true, false, 256},
        {"color", 8, false, false, true, 256},  // case differs: taken, inexact
    };
    const SANE_Option_Descriptor* depth = options.Descriptor(kOptDepth);
    for (const auto& m : kModes) {
        SANE_Int info = 0;
        EXPECT_EQ(SetString(kOptMode, m.mode, &info), SANE_STATUS_GOOD);
        EXPECT_TRUE((info & SANE_INFO_RELOAD_OPTIONS) && (info & SANE_INFO_RELOAD_PARAMS)) << m.mode;
        EXPECT_EQ(GetWord(kOptDepth), m.depth) << m.mode;
        EXPECT_EQ(depth->constraint.word_list[1], m.depth) << m.mode;
        EXPECT_EQ(Active(kOptThreshold), m.threshold) << m.mode;
        EXPECT_EQ(Active(kOptGammaVector), m.master) << m.mode;
        EXPECT_EQ(Active(kOptGammaVectorB), m.colour) << m.mode;
        EXPECT_EQ(options.Descriptor(kOptGammaVector)->size,
                  m.tableEntries * static_cast<SANE_Int>(sizeof(SANE_Word)));
    }
    EXPECT_EQ(depth->constraint.word_list[0], 2);  // colour offers 8 and 16
    SANE_Int info = 0;
    EXPECT_EQ(SetString(kOptMode, "Gray", &info), SANE_STATUS_GOOD);
    EXPECT_EQ(SetWord(kOptDepth, 16, nullptr, &info), SANE_STATUS_GOOD);  // grey has no 16 bits
    EXPECT_EQ(GetWord(kOptDepth), 8);
    EXPECT_TRUE(info & SANE_INFO_INEXACT);
}

TEST_F(sane_options, SourceLimitsTheAreaToItsAperture) {
    ASSERT_EQ(SetWord(kOptTlX, SANE_FIX(10)), SANE_STATUS_GOOD);
    SANE_Int info = 0;
    ASSERT_EQ(SetString(kOptSource, "Transparency Adapter type 1", &info), SANE_STATUS_GOOD);
    EXPECT_TRUE((info & SANE_INFO_RELOAD_OPTIONS) && (info & SANE_INFO_RELOAD_PARAMS));
    EXPECT_EQ(options.Descriptor(kOptBrX)->constraint.range->max, SANE_FIX(38.1));
    EXPECT_EQ(GetWord(kOptBrX), SANE_FIX(38.1));
    EXPECT_EQ(GetWord(kOptBrY), SANE_FIX(127.0));
    EXPECT_EQ(GetWord(kOptTlX), SANE_FIX(10));
    const ScanSettings s = options.Settings();
    EXPECT_EQ(s.source->driverSource, 1);
    EXPECT_NEAR(s.rightMm - s.leftMm, 28.1, 1e-3);
}

TEST_F(sane_options, SettingsFollowTheOptions) {
    // Edges given the wrong way round still describe the area between them.
    ASSERT_EQ(SetWord(kOptTlX, SANE_FIX(100)), SANE_STATUS_GOOD);
    ASSERT_EQ(SetWord(kOptBrX, SANE_FIX(20)), SANE_STATUS_GOOD);
    ScanSettings s = options.Settings();
    EXPECT_NEAR(s.leftMm, 20, 1e-3);
    EXPECT_NEAR(s.rightMm, 100, 1e-3);
    EXPECT_TRUE(s.gamma.empty());

    // Preview: low resolution, 8 bits; custom gamma: three sections of the depth's size.
    ASSERT_EQ(SetWord(kOptDepth, 16), SANE_STATUS_GOOD);
    ASSERT_EQ(SetWord(kOptCustomGamma, SANE_TRUE), SANE_STATUS_GOOD);
    std::vector<SANE_Word> table(65536);
    for (size_t i = 0; i < table.size(); ++i) table[i] = static_cast<SANE_Word>(65535 - i);
    ASSERT_EQ(options.Control(kOptGammaVectorB, SANE_ACTION_SET_VALUE, table.data(), nullptr, false, {}),
              SANE_STATUS_GOOD);
    s = options.Settings();
    ASSERT_EQ(s.gamma.size(), 3u * 65536);
    EXPECT_EQ(s.gamma[0], 0);
    EXPECT_EQ(s.gamma[2 * 65536], 65535);
    ASSERT_EQ(SetWord(kOptPreview, SANE_TRUE), SANE_STATUS_GOOD);
    s = options.Settings();
    EXPECT_EQ(s.resolution, 100);
    EXPECT_EQ(s.depth, 8);
    ASSERT_EQ(s.gamma.size(), 3u * 256);
    EXPECT_EQ(s.gamma[2 * 256], 255);
    EXPECT_EQ(s.gamma[2 * 256 + 255], 0);

    // Gamma entries beyond the range are clamped.
    table.assign(65536, 70000);
    SANE_Int info = 0;
    ASSERT_EQ(options.Control(kOptGammaVectorR, SANE_ACTION_SET_VALUE, table.data(), &info, false, {}),
              SANE_STATUS_GOOD);
    EXPECT_TRUE(info & SANE_INFO_INEXACT);
    EXPECT_EQ(table[0], 65535);
}

TEST_F(sane_options, ScanButtonReadsTheKey) {
    SANE_Word pressed = SANE_FALSE;
    EXPECT_EQ(
        options.Control(kOptScanButton, SANE_ACTION_GET_VALUE, &pressed, nullptr, false, [] { return true; }),
        SANE_STATUS_GOOD);
    EXPECT_EQ(pressed, SANE_TRUE);
}

// What SANE's conformance checker asks of every option, in every mode: a sound
// descriptor, its value taken back exactly, and every member of its list taken exactly.
TEST_F(sane_options, EveryOptionKeepsTheRulesInEveryMode) {
    ASSERT_EQ(SetWord(kOptCustomGamma, SANE_TRUE), SANE_STATUS_GOOD);  // the tables active too
    for (const char* mode : {"Lineart", "Gray", "Color"}) {
        ASSERT_EQ(SetString(kOptMode, mode), SANE_STATUS_GOOD);
        for (SANE_Int i = 1; i < kOptionCount; ++i) {
            const SANE_Option_Descriptor* d = options.Descriptor(i);
            SCOPED_TRACE(std::string(mode) + " option " + std::to_string(i));
            ASSERT_NE(d->name, nullptr);
            ASSERT_NE(d->title, nullptr);
            if (d->type == SANE_TYPE_GROUP) continue;
            EXPECT_GT(d->size, 0);
            if (d->type != SANE_TYPE_STRING) {
                EXPECT_EQ(d->size % sizeof(SANE_Word), 0u);
            }
            if (d->constraint_type == SANE_CONSTRAINT_RANGE) {
                EXPECT_LE(d->constraint.range->min, d->constraint.range->max);
            }
            if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST) {
                EXPECT_GT(d->constraint.word_list[0], 0);
            }
            if (!SANE_OPTION_IS_ACTIVE(d->cap) || !SANE_OPTION_IS_SETTABLE(d->cap)) continue;
            std::vector<SANE_Word> value(d->size / sizeof(SANE_Word) + 1);
            ASSERT_EQ(options.Control(i, SANE_ACTION_GET_VALUE, value.data(), nullptr, false, {}),
                      SANE_STATUS_GOOD);
            SANE_Int info = 0;
            ASSERT_EQ(options.Control(i, SANE_ACTION_SET_VALUE, value.data(), &info, false, {}),
                      SANE_STATUS_GOOD);
            EXPECT_FALSE(info & SANE_INFO_INEXACT);
            if (d->constraint_type == SANE_CONSTRAINT_STRING_LIST && i != kOptMode) {
                for (const SANE_String_Const* name = d->constraint.string_list; *name != nullptr; ++name) {
                    EXPECT_LT(std::strlen(*name), static_cast<size_t>(d->size));
                    EXPECT_EQ(SetString(i, *name, &info), SANE_STATUS_GOOD);
                    EXPECT_FALSE(info & SANE_INFO_INEXACT) << *name;
                }
            }
            if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST) {
                for (SANE_Word k = 1; k <= d->constraint.word_list[0]; ++k) {
                    SANE_Word taken = 0;
                    EXPECT_EQ(SetWord(i, d->constraint.word_list[k], &taken, &info), SANE_STATUS_GOOD);
                    EXPECT_EQ(taken, d->constraint.word_list[k]);
                    EXPECT_FALSE(info & SANE_INFO_INEXACT);
                }
            }
        }
    }
}

TEST(sane_config, ParsesSettingsDevicesAndReportsBadLines) {
    std::istringstream text(
        "# comment\n"
        "driver /opt/b58/libb58spi.so   # trailing comment\n"
        "firmware-dir /opt/b58/windows\n"
        "open-timeout 250\n"
        "\n"
        "sim@0:rate=0\n"
        "sim@3\n"
        "sim@0\n"          // twice
        "sim@12\n"         // not one digit
        "usb\n"            // no index
        "colour-mode 3\n"  // unknown setting
        "open-timeout soon\n");
    const BackendConfig c = ParseConfig(text);
    EXPECT_EQ(c.driverPath, "/opt/b58/libb58spi.so");
    EXPECT_EQ(c.firmwareDir, "/opt/b58/windows");
    EXPECT_EQ(c.openTimeoutMs, 250);
    ASSERT_EQ(c.devices.size(), 2u);
    EXPECT_EQ(c.devices[0].name, "sim0");
    EXPECT_EQ(c.devices[1].name, "sim3");
    EXPECT_EQ(c.DeviceList(), "sim@0:rate=0;sim@3");
    EXPECT_EQ(c.problems.size(), 5u);
    std::istringstream empty("");
    EXPECT_TRUE(ParseConfig(empty).devices.empty());
}

}  // namespace
}  // namespace b58::sane
