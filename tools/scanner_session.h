// The scanner, open through _Open for the life of the object and closed with _Close.
#pragma once

#include <ostream>

#include "device_commands.h"
#include "driver_entry_points.h"

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
        if (driver_.open() != 0) {
            open_ = true;
            return kExitOk;
        }
        // _Close releases whatever the failed _Open kept and returns the driver's last
        // status: _Open leaves it at 1 when it got the device lock but found no scanner it
        // could start, and untouched (0 in a freshly loaded driver) when another program
        // held the lock for the whole wait.
        if (driver_.close() == 0) {
            err << "b58scan: the scanner is in use by another program\n";
            return kExitScannerInUse;
        }
        err << "b58scan: no scanner found (is it connected and switched on?)\n";
        return kExitNoScanner;
    }

  private:
    const DriverEntryPoints& driver_;
    bool open_ = false;
};

}  // namespace b58::tools
