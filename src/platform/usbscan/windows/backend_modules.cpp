// Backend modules inside a Windows process: none are loaded. The program that attaches the
// class driver registers the backends it carries (RegisterBackendFactory), the virtual
// scanner among them.
#include "platform/usbscan/backend_modules.h"

namespace b58::usbscan {

std::vector<std::string> BackendModuleFolders() {
    return {};
}

std::shared_ptr<UsbBackend> CreateModuleBackend(const std::string& name, const std::string&,
                                                std::string* error) {
    if (error != nullptr) *error = "unknown backend \"" + name + "\" (this program does not carry it)";
    return nullptr;
}

}  // namespace b58::usbscan
