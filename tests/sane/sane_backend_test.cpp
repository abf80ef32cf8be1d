// The sane_b58_* entry points against the virtual scanner, as a frontend calls them: device
// listing, opening, scans read in awkward pieces, cancelling from another thread.
#include <gtest/gtest.h>
#include <sane/sane.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/scratch_directory.h"

extern "C" {
SANE_Status sane_b58_init(SANE_Int*, SANE_Auth_Callback);
void sane_b58_exit(void);
SANE_Status sane_b58_get_devices(const SANE_Device***, SANE_Bool);
SANE_Status sane_b58_open(SANE_String_Const, SANE_Handle*);
void sane_b58_close(SANE_Handle);
const SANE_Option_Descriptor* sane_b58_get_option_descriptor(SANE_Handle, SANE_Int);
SANE_Status sane_b58_control_option(SANE_Handle, SANE_Int, SANE_Action, void*, SANE_Int*);
SANE_Status sane_b58_get_parameters(SANE_Handle, SANE_Parameters*);
SANE_Status sane_b58_start(SANE_Handle);
SANE_Status sane_b58_read(SANE_Handle, SANE_Byte*, SANE_Int, SANE_Int*);
void sane_b58_cancel(SANE_Handle);
SANE_Status sane_b58_set_io_mode(SANE_Handle, SANE_Bool);
SANE_Status sane_b58_get_select_fd(SANE_Handle, SANE_Int*);
}

namespace {

// A configuration folder of the test's own, with the given device lines.
class sane_backend : public ::testing::Test {
  protected:
    void Init(const std::string& devices) {
        config_.Write("b58.conf",
                      "driver " B58_TEST_DRIVER "\nfirmware-dir " B58_TEST_WINDOWS_DIR "\n" + devices);
        setenv("SANE_CONFIG_DIR", config_.Path().c_str(), 1);
        // The driver's pauses shortened; its machine-wide names kept apart from other trees'.
        setenv("B58_TIME_SCALE", "0.02", 0);
        setenv("B58_IPC_NAMESPACE", B58_TEST_IPC, 0);
        SANE_Int version = 0;
        ASSERT_EQ(sane_b58_init(&version, nullptr), SANE_STATUS_GOOD);
        EXPECT_EQ(SANE_VERSION_MAJOR(version), 1);
        initialised_ = true;
    }
    void TearDown() override {
        if (initialised_) sane_b58_exit();
    }

    SANE_Handle Open(const char* name = "sim0") {
        SANE_Handle h = nullptr;
        EXPECT_EQ(sane_b58_open(name, &h), SANE_STATUS_GOOD);
        return h;
    }
    // Finds an option by name.
    SANE_Int Option(SANE_Handle h, const std::string& name) {
        for (SANE_Int i = 1;; ++i) {
            const SANE_Option_Descriptor* d = sane_b58_get_option_descriptor(h, i);
            if (d == nullptr) return -1;
            if (d->name != nullptr && name == d->name) return i;
        }
    }
    void Set(SANE_Handle h, const std::string& name, SANE_Word value) {
        ASSERT_EQ(sane_b58_control_option(h, Option(h, name), SANE_ACTION_SET_VALUE, &value, nullptr),
                  SANE_STATUS_GOOD)
            << name;
    }
    void SetMode(SANE_Handle h, const char* mode) {
        char text[32];
        std::snprintf(text, sizeof text, "%s", mode);
        ASSERT_EQ(sane_b58_control_option(h, Option(h, "mode"), SANE_ACTION_SET_VALUE, text, nullptr),
                  SANE_STATUS_GOOD);
    }
    // A small area at a low resolution, so that scans are quick.
    void SmallArea(SANE_Handle h, double mm, SANE_Word dpi) {
        Set(h, "tl-x", SANE_FIX(30));
        Set(h, "tl-y", SANE_FIX(20));
        Set(h, "br-x", SANE_FIX(30 + mm));
        Set(h, "br-y", SANE_FIX(20 + mm));
        Set(h, "resolution", dpi);
    }
    // Reads to the end in pieces of `piece` bytes; returns the bytes and the final status.
    SANE_Status ReadAll(SANE_Handle h, SANE_Int piece, std::vector<SANE_Byte>& image) {
        std::vector<SANE_Byte> buffer(piece);
        for (;;) {
            SANE_Int length = -1;
            const SANE_Status status = sane_b58_read(h, buffer.data(), piece, &length);
            if (status != SANE_STATUS_GOOD) {
                EXPECT_EQ(length, 0);
                return status;
            }
            EXPECT_GT(length, 0);
            EXPECT_LE(length, piece);
            image.insert(image.end(), buffer.begin(), buffer.begin() + length);
        }
    }

    b58::testing::ScratchDirectory config_;
    bool initialised_ = false;
};

TEST_F(sane_backend, NoDeviceConfiguredListsNone) {
    Init("# nothing\n");
    const SANE_Device** list = nullptr;
    ASSERT_EQ(sane_b58_get_devices(&list, SANE_FALSE), SANE_STATUS_GOOD);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list[0], nullptr);
    SANE_Handle h = nullptr;
    EXPECT_EQ(sane_b58_open("sim0", &h), SANE_STATUS_INVAL);
    EXPECT_EQ(h, nullptr);
}

TEST_F(sane_backend, ListsAndOpensTheConfiguredScanner) {
    Init("sim@0:rate=0,key=pressed\n");
    const SANE_Device** list = nullptr;
    ASSERT_EQ(sane_b58_get_devices(&list, SANE_TRUE), SANE_STATUS_GOOD);
    ASSERT_NE(list[0], nullptr);
    EXPECT_STREQ(list[0]->name, "sim0");
    EXPECT_EQ(list[1], nullptr);

    SANE_Handle h = Open("");  // the first device
    ASSERT_NE(h, nullptr);
    SANE_Handle second = nullptr;
    EXPECT_EQ(sane_b58_open("sim0", &second), SANE_STATUS_DEVICE_BUSY);
    EXPECT_EQ(sane_b58_open("sim7", &second), SANE_STATUS_INVAL);

    SANE_Word pressed = SANE_FALSE;
    EXPECT_EQ(sane_b58_control_option(h, Option(h, "scan"), SANE_ACTION_GET_VALUE, &pressed, nullptr),
              SANE_STATUS_GOOD);
    EXPECT_EQ(pressed, SANE_TRUE);
    SANE_Int fd = 0;
    EXPECT_EQ(sane_b58_get_select_fd(h, &fd), SANE_STATUS_UNSUPPORTED);
    // Reading or switching the I/O mode without a scan is refused; a foreign handle too.
    SANE_Byte byte;
    SANE_Int length = 0;
    EXPECT_EQ(sane_b58_read(h, &byte, 1, &length), SANE_STATUS_INVAL);
    EXPECT_EQ(sane_b58_set_io_mode(h, SANE_TRUE), SANE_STATUS_INVAL);
    int foreign = 0;
    EXPECT_EQ(sane_b58_start(&foreign), SANE_STATUS_INVAL);
    sane_b58_cancel(&foreign);
    sane_b58_close(h);
}

TEST_F(sane_backend, OpensAndClosesAHundredTimes) {
    Init("sim@0:rate=0\n");
    for (int i = 0; i < 100; ++i) {
        SANE_Handle h = Open();
        ASSERT_NE(h, nullptr) << i;
        sane_b58_close(h);
    }
}

// Every mode read in pieces of 1, 7 and 4093 bytes: the bytes are exactly what the
// parameters announced before and after sane_start, then EOF (again on a further read).
TEST_F(sane_backend, ReadsDeliverExactlyTheAnnouncedImage) {
    Init("sim@0:rate=0\n");
    SANE_Handle h = Open();
    ASSERT_NE(h, nullptr);
    const struct {
        const char* mode;
        SANE_Word depth;
        SANE_Word dpi;
        SANE_Int piece;
        SANE_Frame frame;
    } kCases[] = {
        {"Lineart", 1, 150, 1, SANE_FRAME_GRAY}, {"Gray", 8, 100, 7, SANE_FRAME_GRAY},
        {"Color", 8, 50, 1, SANE_FRAME_RGB},     {"Color", 16, 100, 4093, SANE_FRAME_RGB},
        {"Gray", 8, 600, 4093, SANE_FRAME_GRAY},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.mode) + " " + std::to_string(c.depth) + " bits " + std::to_string(c.dpi) +
                     " dpi");
        SetMode(h, c.mode);
        Set(h, "depth", c.depth);
        SmallArea(h, 10.16, c.dpi);  // 0.4 in
        SANE_Parameters before{}, after{};
        ASSERT_EQ(sane_b58_get_parameters(h, &before), SANE_STATUS_GOOD);
        EXPECT_EQ(before.format, c.frame);
        EXPECT_EQ(before.depth, c.depth);
        EXPECT_EQ(before.last_frame, SANE_TRUE);
        EXPECT_EQ(before.pixels_per_line, c.dpi * 4 / 10);
        EXPECT_EQ(before.lines, c.dpi * 4 / 10);
        const int samples = c.frame == SANE_FRAME_RGB ? 3 : 1;
        EXPECT_EQ(before.bytes_per_line, (before.pixels_per_line * samples * c.depth + 7) / 8);

        ASSERT_EQ(sane_b58_start(h), SANE_STATUS_GOOD);
        ASSERT_EQ(sane_b58_get_parameters(h, &after), SANE_STATUS_GOOD);
        EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
        std::vector<SANE_Byte> image;
        EXPECT_EQ(ReadAll(h, c.piece, image), SANE_STATUS_EOF);
        EXPECT_EQ(image.size(), static_cast<size_t>(after.bytes_per_line) * after.lines);
        SANE_Byte byte;
        SANE_Int length = -1;
        EXPECT_EQ(sane_b58_read(h, &byte, 1, &length), SANE_STATUS_EOF);
        sane_b58_cancel(h);
    }
    sane_b58_close(h);
}

// Custom gamma tables go to the driver as its tables: flat curves of 20, 128 and 240 for
// red, green and blue make the image those colours (join repair may nudge a few pixels).
TEST_F(sane_backend, CustomGammaTablesReachTheDriver) {
    Init("sim@0:rate=0\n");
    SANE_Handle h = Open();
    ASSERT_NE(h, nullptr);
    SmallArea(h, 10.16, 100);
    Set(h, "custom-gamma", SANE_TRUE);
    const struct {
        const char* option;
        SANE_Word level;
    } kTables[] = {{"red-gamma-table", 20}, {"green-gamma-table", 128}, {"blue-gamma-table", 240}};
    for (const auto& t : kTables) {
        std::vector<SANE_Word> table(256, t.level);
        ASSERT_EQ(
            sane_b58_control_option(h, Option(h, t.option), SANE_ACTION_SET_VALUE, table.data(), nullptr),
            SANE_STATUS_GOOD);
    }
    ASSERT_EQ(sane_b58_start(h), SANE_STATUS_GOOD);
    std::vector<SANE_Byte> image;
    ASSERT_EQ(ReadAll(h, 4096, image), SANE_STATUS_EOF);
    ASSERT_FALSE(image.empty());
    for (size_t c = 0; c < 3; ++c) {
        size_t exact = 0;
        for (size_t i = c; i < image.size(); i += 3) exact += image[i] == kTables[c].level;
        EXPECT_GT(exact * 3 * 10, image.size() * 9) << kTables[c].option;  // over 90 %
    }
    sane_b58_close(h);
}

// sane_cancel from another thread at random points of a scan ends it (cancelled, or EOF
// when the scan was quicker), and the next scan on the same handle completes.
TEST_F(sane_backend, CancelFromAnotherThreadAtAnyPoint) {
    Init("sim@0\n");
    SANE_Handle h = Open();
    ASSERT_NE(h, nullptr);
    SmallArea(h, 25.4, 150);
    std::mt19937 random(std::random_device{}());
    for (int round = 0; round < 6; ++round) {
        const auto delay = std::chrono::microseconds(random() % 40000);
        SCOPED_TRACE("cancel after " + std::to_string(delay.count()) + " us");
        ASSERT_EQ(sane_b58_start(h), SANE_STATUS_GOOD);
        std::thread canceller([h, delay] {
            std::this_thread::sleep_for(delay);
            sane_b58_cancel(h);
        });
        std::vector<SANE_Byte> image;
        const SANE_Status status = ReadAll(h, 333, image);
        canceller.join();
        EXPECT_TRUE(status == SANE_STATUS_CANCELLED || status == SANE_STATUS_EOF) << status;
        SANE_Byte byte;
        SANE_Int length = -1;
        EXPECT_EQ(sane_b58_read(h, &byte, 1, &length), SANE_STATUS_CANCELLED);
    }
    SANE_Parameters p{};
    ASSERT_EQ(sane_b58_start(h), SANE_STATUS_GOOD);
    ASSERT_EQ(sane_b58_get_parameters(h, &p), SANE_STATUS_GOOD);
    std::vector<SANE_Byte> image;
    EXPECT_EQ(ReadAll(h, 65536, image), SANE_STATUS_EOF);
    EXPECT_EQ(image.size(), static_cast<size_t>(p.bytes_per_line) * p.lines);
    sane_b58_close(h);  // without sane_cancel: close ends the scan itself
}

}  // namespace
