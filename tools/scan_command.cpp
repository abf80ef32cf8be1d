#include "scan_command.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "scanner_session.h"

namespace b58::tools {
namespace {

constexpr int kBarWidth = 40;

class Progress {
  public:
    Progress(std::ostream& err, ProgressStyle style, bool terminal)
        : err_(err),
          bar_(style != ProgressStyle::Quiet && terminal),
          lines_(style == ProgressStyle::Shown && !terminal) {}

    void Show(uint32_t page, uint32_t lines, uint32_t total) {
        const int percent =
            static_cast<int>(std::min<uint64_t>(100, uint64_t{lines} * 100 / std::max(1u, total)));
        if (percent == shown_) return;
        shown_ = percent;
        const std::string prefix = page > 0 ? "page " + std::to_string(page) + " " : "";
        if (bar_) {
            const int filled = percent * kBarWidth / 100;
            err_ << "\r" << prefix << "scanning [" << std::string(filled, '#')
                 << std::string(kBarWidth - filled, ' ') << "] " << percent << "% " << lines << "/" << total
                 << " lines" << std::flush;
            drawn_ = true;
        } else if (lines_ && (percent % 10 == 0)) {
            err_ << prefix << "scanning: " << percent << "%\n" << std::flush;
        }
    }
    void Finish() {
        if (drawn_) err_ << "\n";
        drawn_ = false;
        shown_ = -1;
    }

  private:
    std::ostream& err_;
    bool bar_, lines_, drawn_ = false;
    int shown_ = -1;
};

}  // namespace

std::string BatchFileName(const std::string& pattern, uint32_t page) {
    std::string name;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            name += pattern[i];
            continue;
        }
        if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
            name += '%';
            ++i;
            continue;
        }
        const size_t d = pattern.find('d', i);
        const size_t width = static_cast<size_t>(std::atoi(pattern.substr(i + 1, d - i - 1).c_str()));
        const std::string number = std::to_string(page);
        name += std::string(width > number.size() ? width - number.size() : 0, '0') + number;
        i = d;
    }
    return name;
}

int RunScan(const DriverEntryPoints& driver, const CommandLine& line, const host::ScanCancel& cancel,
            const ScanEnvironment& environment) {
    std::ostream& err = *environment.err;
    std::ostream& out = *environment.out;
    const bool quiet = line.progress == ProgressStyle::Quiet;

    host::PlannedScan plan;
    std::string error;
    if (!host::PlanScan(line.scan, plan, error)) {
        err << "b58scan: " << error << "\n";
        return kExitUsage;
    }
    if (plan.resolution != line.scan.resolution && !quiet) {
        err << "b58scan: " << line.scan.resolution << " dpi is not available; scanning at " << plan.resolution
            << " dpi\n";
    }

    ScannerSession session(driver);
    if (int status = session.Open(err); status != kExitOk) return status;

    Progress progress(err, line.progress, environment.errIsTerminal);
    std::unique_ptr<ImageWriter> file;  // the one file of every page, when there is no pattern
    const bool batch = !line.batchPattern.empty();
    int status = kExitOk;
    uint32_t pages = 0;
    for (uint32_t page = 1; page <= line.batchCount && status == kExitOk; ++page) {
        if (line.batchPrompt && (!environment.waitForPage || !environment.waitForPage(page))) break;
        if (cancel.Requested()) {
            status = kExitCancelled;
            break;
        }
        const std::string path = batch ? BatchFileName(line.batchPattern, page) : line.output;
        std::unique_ptr<ImageWriter> pageFile;
        const bool opened = batch || !file;
        if (opened) {
            (batch ? pageFile : file) = OpenImageWriter(line.format, path, line.writer, error);
            if (!(batch ? pageFile : file)) {
                err << "b58scan: " << error << "\n";
                return kExitCommandFailed;
            }
        }
        ImageWriter& writer = batch ? *pageFile : *file;
        host::ScanHooks hooks;
        hooks.offsets = environment.offsets;
        const uint32_t shownPage = line.batchCount > 1 ? page : 0;
        hooks.progress = [&](uint32_t lines, uint32_t total) { progress.Show(shownPage, lines, total); };
        const host::ScanOutcome outcome = host::RunScan(driver, line.scan, writer, cancel, hooks);
        progress.Finish();
        if (outcome.end == host::ScanEnd::Refused || outcome.end == host::ScanEnd::SinkFailed) {
            err << "b58scan: " << outcome.message << "\n";
            // A file begun for this page holds no image: it goes.
            if (opened && path != "-" && pages == 0) {
                std::string ignored;
                writer.Close(ignored);
                std::remove(path.c_str());
            }
            return kExitCommandFailed;
        }
        ++pages;
        if (batch && !pageFile->Close(error)) {
            err << "b58scan: " << error << "\n";
            return kExitCommandFailed;
        }
        const std::string name = line.output == "-" && !batch ? "standard output" : path;
        out << "image: " << name << (line.batchCount > 1 && !batch ? " page " + std::to_string(page) : "")
            << " (" << outcome.format.width << " x " << outcome.lines << " pixels, " << outcome.format.xDpi
            << " x " << outcome.format.yDpi << " dpi)\n";
        if (outcome.end == host::ScanEnd::Complete) continue;
        const std::string blank = writer.BlankLines() > 0
                                      ? "; the file keeps its full height, the last " +
                                            std::to_string(writer.BlankLines()) + " lines white"
                                      : "";
        if (outcome.end == host::ScanEnd::Cancelled) {
            err << "b58scan: cancelled after " << outcome.lines << " of " << outcome.format.height
                << " lines: the image is partial" << blank << "\n";
            status = kExitCancelled;
        } else {
            err << "b58scan: " << outcome.message << ": the image is partial" << blank << "\n";
            status = kExitCommandFailed;
        }
    }
    if (file && !file->Close(error)) {
        err << "b58scan: " << error << "\n";
        return kExitCommandFailed;
    }
    if (pages == 0 && status == kExitOk && !quiet) err << "b58scan: no page scanned\n";
    return status;
}

}  // namespace b58::tools
