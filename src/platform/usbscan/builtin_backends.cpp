#include "platform/usbscan/builtin_backends.h"

#ifdef B58_HAVE_LIBUSB
#include "platform/usbscan/libusb/libusb_backend.h"
#endif

namespace b58::usbscan {

std::map<std::string, BackendFactory> BuiltinBackends() {
    std::map<std::string, BackendFactory> backends;
#ifdef B58_HAVE_LIBUSB
    backends["usb"] = [](const std::string& options, std::string* error) {
        return CreateLibusbBackend(options, error);
    };
#endif
    return backends;
}

}  // namespace b58::usbscan
