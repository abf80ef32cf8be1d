#include "platform/usbscan/builtin_backends.h"

#include "platform/usbscan/replay/replay_backend.h"
#ifdef B58_HAVE_LIBUSB
#include "platform/usbscan/libusb/libusb_backend.h"
#endif

namespace b58::usbscan {

std::map<std::string, BackendFactory> BuiltinBackends() {
    std::map<std::string, BackendFactory> backends;
    backends["replay"] = [](const std::string& options, std::string* error) {
        return CreateReplayBackend(options, error);
    };
#ifdef B58_HAVE_LIBUSB
    backends["usb"] = [](const std::string& options, std::string* error) {
        return CreateLibusbBackend(options, error);
    };
#endif
    return backends;
}

}  // namespace b58::usbscan
