// The scanner, open through _Open for the life of the object and closed with _Close.
#pragma once

#include <ostream>

#include "device_commands.h"
#include "driver_entry_points.h"
#include "scan_runner.h"

namespace b58::tools {

// The scanner, open for the life of the object.
class ScannerSession {
  public:
    explicit ScannerSession(const DriverEntryPoints& driver) : driver_(driver) {}
    ~ScannerSession() {
        if (open_) driver_.close();
    }
    ScannerSession(const ScannerSession&) = delete;
    ScannerSession& operator=(const ScannerSession&) = delete;

    // kExitOk when the scanner is open; otherwise the reason is printed and returned.
    int Open(std::ostream& err) {
        switch (host::OpenScanner(driver_)) {
            case host::OpenResult::Open:
                open_ = true;
                return kExitOk;
            case host::OpenResult::InUse:
                err << "b58scan: the scanner is in use by another program\n";
                return kExitScannerInUse;
            case host::OpenResult::NoScanner:
                break;
        }
        err << "b58scan: no scanner found (is it connected and switched on?)\n";
        return kExitNoScanner;
    }

  private:
    const DriverEntryPoints& driver_;
    bool open_ = false;
};

}  // namespace b58::tools
