// Captures of driver sessions with the virtual scanner, replayed by the replay backend: the
// driver sends the recorded commands and gets the recorded replies and image stream; a
// session that differs is stopped at its first differing transfer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "driver_session.h"
#include "platform/usbscan/replay/replay_backend.h"
#include "platform/usbscan/usb_capture.h"

namespace b58 {
namespace {

using test::Request;
using test::Scanned;

class Replay : public test::DriverSession {
  protected:
    std::string CapturePath(const std::string& name) const {
        return (windows_.Path() / (name + ".pcap")).string();
    }

    Scanned Record(const std::string& path, const Request& request) {
        EXPECT_TRUE(usbscan::StartCapture(path));
        Scanned recorded = Scan(Model(), request);
        usbscan::StopCapture();
        // B58_REPLAY_SAVE_DIR keeps the captures (how the committed ones were made).
        if (const char* keep = std::getenv("B58_REPLAY_SAVE_DIR")) {
            std::filesystem::copy_file(path,
                                       std::filesystem::path(keep) / std::filesystem::path(path).filename(),
                                       std::filesystem::copy_options::overwrite_existing);
        }
        return recorded;
    }

    std::shared_ptr<usbscan::ReplayBackend> Replayer(const std::string& path) {
        std::string error;
        auto backend = std::dynamic_pointer_cast<usbscan::ReplayBackend>(
            usbscan::CreateReplayBackend("file=" + path, &error));
        EXPECT_NE(backend, nullptr) << error;
        return backend;
    }
};

TEST_F(Replay, RecordedSessionsReplayWholeWithTheSameImages) {
    struct Case {
        const char* name;
        Request request;
    } cases[] = {
        {"open", {ModeColor24, 150, 0, false}},
        {"colour150", {ModeColor24, 150, 0}},
        {"adapter48", {ModeColor48, 150, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = CapturePath(c.name);
        const Scanned recorded = Record(path, c.request);
        ASSERT_TRUE(recorded.opened);
        if (c.request.scan) {
            EXPECT_GT(recorded.imageLines, 0u);
            EXPECT_EQ(recorded.delivered, recorded.imageLines);
        }
        auto replayer = Replayer(path);
        ASSERT_NE(replayer, nullptr);
        const Scanned replayed = Scan(replayer, c.request);
        EXPECT_EQ(replayer->Divergence(), "");
        EXPECT_TRUE(replayer->Complete());
        EXPECT_TRUE(replayed.opened);
        EXPECT_EQ(replayed.delivered, recorded.delivered);
        ASSERT_EQ(replayed.pixels.size(), recorded.pixels.size());
        // The driver's own run-to-run differences of a few codes near the chip joins aside.
        int largest = 0;
        for (size_t i = 0; i < recorded.pixels.size(); ++i)
            largest = std::max(largest, std::abs(replayed.pixels[i] - recorded.pixels[i]));
        EXPECT_LE(largest, 4);
    }
}

// The captures kept in the tree: the driver still sends the recorded command stream.
TEST_F(Replay, KeptCapturesReplayWhole) {
    const std::pair<const char*, Request> cases[] = {
        {"open", {ModeColor24, 150, 0, false}},
        {"colour150", {ModeColor24, 150, 0}},
        {"adapter48", {ModeColor48, 150, 1}},
    };
    for (const auto& [name, request] : cases) {
        SCOPED_TRACE(name);
        auto replayer = Replayer(std::string(B58_REPLAY_CAPTURES) + "/" + name + ".pcap");
        ASSERT_NE(replayer, nullptr);
        const Scanned replayed = Scan(replayer, request);
        EXPECT_EQ(replayer->Divergence(), "");
        EXPECT_TRUE(replayer->Complete());
        EXPECT_EQ(replayed.delivered, replayed.imageLines);
    }
}

TEST_F(Replay, StopsAtTheFirstTransferThatDiffersAndSaysWhatWasExpected) {
    const std::string path = CapturePath("colour150");
    Record(path, {ModeColor24, 150, 0});
    auto replayer = Replayer(path);
    ASSERT_NE(replayer, nullptr);
    const Scanned replayed = Scan(replayer, {ModeColor24, 300, 0});  // another resolution
    const std::string divergence = replayer->Divergence();
    EXPECT_NE(divergence.find("control transfer "), std::string::npos) << divergence;
    EXPECT_NE(divergence.find("expected control out 40 04 value 2010"), std::string::npos) << divergence;
    EXPECT_NE(divergence.find(", came control out 40 04 value 2010"), std::string::npos) << divergence;
    EXPECT_FALSE(replayer->Complete());
    EXPECT_LT(replayed.delivered, replayed.imageLines + 1);

    std::string error;
    EXPECT_EQ(usbscan::CreateReplayBackend("file=" + CapturePath("missing"), &error), nullptr);
    EXPECT_NE(error.find("cannot read"), std::string::npos);
    EXPECT_EQ(usbscan::CreateReplayBackend("speed=9", &error), nullptr);
}

}  // namespace
}  // namespace b58
