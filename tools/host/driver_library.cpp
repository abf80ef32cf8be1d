#include "driver_library.h"

#include <cstring>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <stdlib.h>
#include <unistd.h>
#endif

namespace b58::host {
namespace {

#if defined(_WIN32)

std::string LastErrorText() {
    DWORD code = GetLastError();
    char text[256] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                  0, text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == ' ')) {
        text[--length] = '\0';
    }
    return "error " + std::to_string(code) + (length > 0 ? ": " + std::string(text) : std::string());
}

void* OpenLibrary(const std::string& path, std::string& error) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) error = LastErrorText();
    return reinterpret_cast<void*>(module);
}

void CloseLibrary(void* handle) {
    FreeLibrary(reinterpret_cast<HMODULE>(handle));
}

void* FindSymbol(void* handle, const char* name) {
    FARPROC address = GetProcAddress(reinterpret_cast<HMODULE>(handle), name);
    // A code address travels as void* here; the caller gives it back its type.
    void* plain = nullptr;
    static_assert(sizeof plain == sizeof address);
    std::memcpy(&plain, &address, sizeof plain);
    return plain;
}

std::string FileOf(void* handle, const std::string& requested) {
    char name[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(reinterpret_cast<HMODULE>(handle), name, sizeof name);
    return length > 0 && length < sizeof name ? std::string(name, length) : requested;
}

#else

void* OpenLibrary(const std::string& path, std::string& error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* text = dlerror();
        error = text != nullptr ? text : "dlopen failed";
    }
    return handle;
}

void CloseLibrary(void* handle) {
    dlclose(handle);
}

void* FindSymbol(void* handle, const char* name) {
    return dlsym(handle, name);
}

std::string FileOf(void* handle, const std::string& requested) {
    struct link_map* map = nullptr;
    std::string name = requested;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr &&
        map->l_name[0] != '\0') {
        name = map->l_name;
    }
    char resolved[PATH_MAX];
    return realpath(name.c_str(), resolved) != nullptr ? std::string(resolved) : name;
}

#endif

}  // namespace

std::string DriverLibrary::DefaultPath() {
#if defined(_WIN32)
    return "b58spi.dll";
#else
    char self[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return "libb58spi.so";
    std::string program(self, static_cast<size_t>(length));
    return program.substr(0, program.rfind('/') + 1) + "libb58spi.so";
#endif
}

std::unique_ptr<DriverLibrary> DriverLibrary::Load(const std::string& path, std::string& error) {
    void* handle = OpenLibrary(path, error);
    if (handle == nullptr) {
        error = "cannot load " + path + ": " + error;
        return nullptr;
    }
    return std::unique_ptr<DriverLibrary>(new DriverLibrary(handle, FileOf(handle, path)));
}

DriverLibrary::DriverLibrary(void* handle, std::string loadedFile)
    : handle_(handle), loadedFile_(std::move(loadedFile)) {
    for (size_t i = 0; i < kEntryPointCount; ++i) entryPoints_[i] = FindSymbol(handle_, kExportNames[i]);
}

DriverLibrary::~DriverLibrary() {
    CloseLibrary(handle_);
}

void* DriverLibrary::EntryPoint(const char* name) const {
    for (size_t i = 0; i < kEntryPointCount; ++i) {
        if (std::strcmp(kExportNames[i], name) == 0) return entryPoints_[i];
    }
    return nullptr;
}

std::vector<const char*> DriverLibrary::Missing() const {
    std::vector<const char*> missing;
    for (size_t i = 0; i < kEntryPointCount; ++i) {
        if (entryPoints_[i] == nullptr) missing.push_back(kExportNames[i]);
    }
    return missing;
}

}  // namespace b58::host
