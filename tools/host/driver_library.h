// Loading the driver the way a host imaging application does: by file name at run time,
// then each of the fifteen entry points by name.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "api/exports.h"

namespace b58::host {

inline constexpr size_t kEntryPointCount = sizeof kExportNames / sizeof kExportNames[0];

class DriverLibrary {
  public:
    // The driver beside this program: libb58spi.so in the program's folder, or on Windows
    // "b58spi.dll", which the system looks for in the program's folder first.
    static std::string DefaultPath();

    // Loads the library and looks up every entry point. Returns null and sets error when
    // the library cannot be loaded; a library that lacks entry points loads, and Missing()
    // names them.
    static std::unique_ptr<DriverLibrary> Load(const std::string& path, std::string& error);

    ~DriverLibrary();
    DriverLibrary(const DriverLibrary&) = delete;
    DriverLibrary& operator=(const DriverLibrary&) = delete;

    // The system's handle of the loaded library (an HMODULE on Windows).
    void* Module() const { return handle_; }

    // The file the system actually loaded.
    const std::string& LoadedFile() const { return loadedFile_; }

    // The address of the entry point with the given name, or null when the library lacks it
    // (or the name is not one of the fifteen).
    void* EntryPoint(const char* name) const;

    // The entry point as a callable, typed from its declaration in the driver's header:
    // Function<decltype(&::GetVersionInfo)>("GetVersionInfo").
    template <typename Fn>
    Fn Function(const char* name) const {
        return reinterpret_cast<Fn>(EntryPoint(name));
    }

    std::vector<const char*> Missing() const;
    bool Complete() const { return Missing().empty(); }

  private:
    DriverLibrary(void* handle, std::string loadedFile);

    void* handle_;
    std::string loadedFile_;
    void* entryPoints_[kEntryPointCount] = {};
};

}  // namespace b58::host
