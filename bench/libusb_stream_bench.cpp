// The libusb backend against the virtual scanner behind emulated usbdevfs (umockdev), next to
// the virtual scanner read directly: image-stream throughput, CPU time per MB (the whole
// process: driver side, umockdev's thread and the emulated device alike) and the time a
// cancel of a waiting read takes. Run under umockdev's preload library:
//   LD_PRELOAD=libumockdev-preload.so.0 build/default/bench/libusb_stream_bench
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/usbscan/libusb/libusb_backend.h"
#include "sim/controller_harness.h"
#include "sim/virtual_scanner.h"
#include "usbdevfs_emulator.h"

namespace b58 {
namespace {

using namespace sim::harness;
using Clock = std::chrono::steady_clock;

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool Start(usbscan::UsbBackend& device) {
    WindowSpec shape;
    shape.startLine = 100;
    shape.hwHeight = 4000;
    shape.startPixel = 12;
    shape.hwWidth = 5100;
    shape.pixels = 2550;
    shape.lines = 2000;  // 2550 x 2000 colour, 15.3 MB
    Packet afe = MakePacket(sim::kCmdAfe);
    for (int i = 2; i < 8; ++i) afe[i] = 20;
    return Exchange(device, WindowPacket(shape))[0] == sim::kStatusDone &&
           Exchange(device, afe)[0] == sim::kStatusDone &&
           Exchange(device, MakePacket(sim::kCmdStart))[0] == sim::kStatusDone &&
           Exchange(device, MakePacket(sim::kCmdHandshake))[0] == sim::kStatusDone;
}

void Stream(const char* name, usbscan::UsbBackend& device) {
    if (!Start(device)) {
        std::printf("%s: the scan did not start\n", name);
        return;
    }
    std::vector<uint8_t> block(30720);
    uint64_t total = 0;
    const double cpu0 = CpuSeconds();
    const auto t0 = Clock::now();
    const uint64_t expected = uint64_t{2550} * 3 * 2000;
    while (total < expected) {
        uint32_t got = 0;
        if (device.BulkRead(block.data(), static_cast<uint32_t>(block.size()), &got) !=
            usbscan::BulkStatus::Ok)
            break;
        total += got;
        if (got < block.size()) break;
    }
    ExchangeShort(device, sim::kCmdStop);
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    const double cpu = CpuSeconds() - cpu0;
    const double mb = static_cast<double>(total) / 1e6;
    std::printf("%-24s %8.1f MB in %6.3f s: %7.1f MB/s, CPU %6.1f ms per MB\n", name, mb, seconds,
                mb / seconds, 1000.0 * cpu / mb);
}

void CancelLatency(const char* name, usbscan::UsbBackend& device) {
    std::vector<double> micros;
    std::vector<uint8_t> block(30720);
    for (int i = 0; i < 30; ++i) {
        Clock::time_point ended;
        std::atomic<bool> done{false};
        std::thread reader([&] {
            uint32_t got = 0;
            device.BulkRead(block.data(), static_cast<uint32_t>(block.size()), &got);  // no scan: waits
            ended = Clock::now();
            done.store(true, std::memory_order_release);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const Clock::time_point cancelled = Clock::now();
        // Repeated as the class driver does: a cancel that comes before the read waits is lost.
        while (!done.load(std::memory_order_acquire)) {
            device.CancelBulk();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        reader.join();
        micros.push_back(std::chrono::duration<double, std::micro>(ended - cancelled).count());
    }
    std::sort(micros.begin(), micros.end());
    std::printf("%-24s cancel of a waiting read: median %.0f us, worst %.0f us\n", name,
                micros[micros.size() / 2], micros.back());
}

int Run() {
    if (!test::UsbdevfsEmulator::Active()) {
        std::fprintf(stderr, "run under umockdev: LD_PRELOAD=libumockdev-preload.so.0\n");
        return 1;
    }
    const std::string options = "firmware=running,rate=0,start_ms=0,step_us=0,stream=placeholder";
    std::string error;
    auto direct = sim::CreateVirtualScanner(options, &error);
    Stream("virtual scanner direct", *direct);
    CancelLatency("virtual scanner direct", *direct);

    test::UsbdevfsEmulator emulated(sim::CreateVirtualScanner(options, &error), 2);
    auto viaLibusb = usbscan::CreateLibusbBackend(emulated.ByAddress(), &error);
    if (!viaLibusb) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    Stream("libusb through umockdev", *viaLibusb);
    CancelLatency("libusb through umockdev", *viaLibusb);
    return 0;
}

}  // namespace
}  // namespace b58

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    return b58::Run();
}
