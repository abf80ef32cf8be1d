// Module queries: the driver finds its own file (the shared library, or the program it is
// linked into) and the host's executable.
//
// Names are reported in Windows form (ToWindowsPath), so code that cuts a module name at
// its last backslash works unchanged. GetModuleHandleA(name) answers for the driver module
// when `name` names its file: the comparison is case-insensitive, on the last path
// component unless `name` has a directory part too, a name without an extension gets
// ".dll", and a file called "libX.so" also answers to "X.dll" (the library's name on
// Windows). Any other name gives NULL with ERROR_MOD_NOT_FOUND.
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/platform_control.h"
#include "platform/win32.h"

namespace b58::platform {
namespace {

// A function of this module, for dladdr.
void ModuleAnchor() {}

std::string ExecutablePath() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return {};
    path[length] = '\0';
    return path;
}

struct SelfModule {
    void* base = nullptr;
    std::string posixPath;
};

const SelfModule& Self() {
    static const SelfModule self = [] {
        SelfModule found;
        Dl_info info{};
        link_map* map = nullptr;
        if (dladdr1(reinterpret_cast<void*>(&ModuleAnchor), &info, reinterpret_cast<void**>(&map),
                    RTLD_DL_LINKMAP) != 0) {
            found.base = info.dli_fbase;
            // The program itself has an empty name in the loader's list.
            if (map != nullptr && map->l_name != nullptr && map->l_name[0] != '\0') {
                char* resolved = realpath(map->l_name, nullptr);
                found.posixPath = resolved != nullptr ? resolved : map->l_name;
                std::free(resolved);
            }
        }
        if (found.posixPath.empty()) found.posixPath = ExecutablePath();
        return found;
    }();
    return self;
}

// A handle for the executable distinct from the driver module's, also when the driver is
// linked into the program (the tests): Windows would give the same value there, but the
// two names must stay apart for the override below.
char g_executableAnchor;
HMODULE ExecutableHandle() {
    return reinterpret_cast<HMODULE>(&g_executableAnchor);
}
HMODULE SelfHandle() {
    void* base = Self().base;
    return reinterpret_cast<HMODULE>(base != nullptr ? base : reinterpret_cast<void*>(&ModuleAnchor));
}

std::mutex g_overrideLock;
std::string g_override;  // Windows form; empty: the real name

std::string SelfWindowsName() {
    {
        std::lock_guard<std::mutex> hold(g_overrideLock);
        if (!g_override.empty()) return g_override;
    }
    return ToWindowsPath(Self().posixPath);
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

size_t NameStart(const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? 0 : slash + 1;
}

bool NamesModule(const std::string& requested, const std::string& moduleWindowsName) {
    std::string wanted = Lower(ToWindowsPath(requested));
    std::string actual = Lower(moduleWindowsName);
    size_t wantedStart = NameStart(wanted);
    size_t actualStart = NameStart(actual);
    std::string wantedFile = wanted.substr(wantedStart);
    std::string actualFile = actual.substr(actualStart);

    if (wantedFile.find('.') == std::string::npos) wantedFile += ".dll";
    if (!wantedFile.empty() && wantedFile.back() == '.') wantedFile.pop_back();  // "name." : no extension
    bool fileMatches = wantedFile == actualFile;
    if (!fileMatches && actualFile.size() > 6 && actualFile.starts_with("lib") &&
        actualFile.ends_with(".so")) {
        fileMatches = wantedFile == actualFile.substr(3, actualFile.size() - 6) + ".dll";
    }
    if (!fileMatches) return false;
    if (wantedStart == 0) return true;
    // A directory was given: it must be the module's (drive prefixes aside).
    return ToPosixPath(wanted.substr(0, wantedStart).c_str()) ==
           ToPosixPath(actual.substr(0, actualStart).c_str());
}

}  // namespace

void SetModuleFileNameOverride(const std::string& windowsPath) {
    std::lock_guard<std::mutex> hold(g_overrideLock);
    g_override = windowsPath;
}

}  // namespace b58::platform

using namespace b58::platform;

HMODULE GetModuleHandleA(LPCSTR moduleName) {
    if (moduleName == nullptr) return ExecutableHandle();
    if (NamesModule(moduleName, SelfWindowsName())) return SelfHandle();
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

// As on current Windows: the length without the terminator when the name fits; otherwise
// the name cut to size - 1 characters and terminated, the result `size` and the error
// ERROR_INSUFFICIENT_BUFFER.
DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
    std::string name;
    if (module == nullptr || module == ExecutableHandle()) {
        name = ToWindowsPath(ExecutablePath());
    } else if (module == SelfHandle()) {
        name = SelfWindowsName();
    } else {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (size == 0 || fileName == nullptr) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (name.size() >= size) {
        std::memcpy(fileName, name.data(), size - 1);
        fileName[size - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::memcpy(fileName, name.c_str(), name.size() + 1);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(name.size());
}
