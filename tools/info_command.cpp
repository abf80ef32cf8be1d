#include "info_command.h"

#include <iomanip>

namespace b58::tools {

int RunInfo(const DriverLibrary& driver, std::ostream& out) {
    out << "driver: " << driver.LoadedFile() << "\n";
    const size_t missing = driver.Missing().size();
    out << "entry points: " << kEntryPointCount - missing << " of " << kEntryPointCount << " found\n";
    for (const char* name : kExportNames) {
        out << "  " << std::left << std::setw(17) << name << (driver.EntryPoint(name) ? "found" : "MISSING")
            << "\n";
    }
    if (missing != 0) return 1;

    // The record is cleared first, so that whatever the driver leaves in it is shown as is.
    VersionRecord record = {};
    auto getVersionInfo = driver.Function<decltype(&::GetVersionInfo)>("GetVersionInfo");
    const int32_t result = getVersionInfo(&record);
    out << "GetVersionInfo: returned " << result;
    if (result == 0) {
        out << " (failure: the driver reports no version)\n";
    } else {
        out << ", status " << record.Status << ", version " << static_cast<int>(record.VersionMajor) << "."
            << static_cast<int>(record.VersionMinor) << "\n";
    }
    return 0;
}

}  // namespace b58::tools
