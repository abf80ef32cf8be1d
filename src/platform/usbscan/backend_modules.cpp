#include "platform/usbscan/backend_modules.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/platform_control.h"
#include "platform/usbscan/backend_module.h"

namespace b58::usbscan {
namespace {

// A function of the module the class driver is linked into, for dladdr.
void FolderAnchor() {}

std::string OwnFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&FolderAnchor), &info) == 0 || info.dli_fname == nullptr) return {};
    std::string path = info.dli_fname;
    if (path.find('/') == std::string::npos) {
        // The program itself: the loader gives its name as it was started.
        char self[4096];
        ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
        if (length <= 0) return {};
        path.assign(self, static_cast<size_t>(length));
    }
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

struct LoadedModules {
    std::mutex lock;
    std::map<std::string, BackendModuleCreate> byName;  // modules stay loaded: never dlclose'd
};

LoadedModules& Modules() {
    static auto* modules = new LoadedModules;  // lookups may run during exit
    return *modules;
}

BackendModuleCreate LoadModule(const std::string& name, std::string* error) {
    LoadedModules& modules = Modules();
    std::lock_guard<std::mutex> hold(modules.lock);
    if (auto it = modules.byName.find(name); it != modules.byName.end()) return it->second;

    const std::string file = kBackendModulePrefix + name + kBackendModuleSuffix;
    std::string tried;
    for (const std::string& folder : BackendModuleFolders()) {
        std::string path = folder + "/" + file;
        if (access(path.c_str(), F_OK) != 0) {
            tried += (tried.empty() ? "" : ", ") + folder;
            continue;
        }
        void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            const char* why = dlerror();
            *error = "cannot load " + path + ": " + (why != nullptr ? why : "unknown reason");
            return nullptr;
        }
        auto create = reinterpret_cast<BackendModuleCreate>(dlsym(library, kBackendModuleEntry));
        if (create == nullptr) {
            *error = path + " is not a backend module";
            return nullptr;
        }
        modules.byName[name] = create;
        return create;
    }
    *error = "unknown backend (no " + file + " in " + (tried.empty() ? std::string("any folder") : tried) +
             "; B58_BACKEND_DIR names another folder)";
    return nullptr;
}

}  // namespace

std::vector<std::string> BackendModuleFolders() {
    std::vector<std::string> folders;
    if (const char* dir = std::getenv("B58_BACKEND_DIR"); dir != nullptr && *dir != '\0')
        folders.emplace_back(dir);
    if (std::string own = OwnFolder(); !own.empty()) folders.push_back(std::move(own));
    return folders;
}

std::shared_ptr<UsbBackend> CreateModuleBackend(const std::string& name, const std::string& options,
                                                std::string* error) {
    std::string problem;
    BackendModuleCreate create = LoadModule(name, &problem);
    if (create == nullptr) {
        if (error != nullptr) *error = problem;
        return nullptr;
    }
    BackendModuleHost host;
    host.timeScale = &platform::TimeScale;
    char message[512] = {};
    UsbBackend* backend = create(&host, options.c_str(), message, sizeof message);
    if (backend == nullptr) {
        if (error != nullptr)
            *error = message[0] != '\0' ? message : "the backend module refused the options";
        return nullptr;
    }
    return std::shared_ptr<UsbBackend>(backend);
}

}  // namespace b58::usbscan
