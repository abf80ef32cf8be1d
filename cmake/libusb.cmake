# libusb-1.0 (Debian: libusb-1.0-0-dev) for the class driver's backend to real scanners.
# Without it the build goes on without that backend.
find_package(PkgConfig QUIET)
set(B58_HAVE_LIBUSB OFF)
if(PkgConfig_FOUND)
    pkg_check_modules(LIBUSB IMPORTED_TARGET GLOBAL libusb-1.0)
    if(LIBUSB_FOUND)
        set(B58_HAVE_LIBUSB ON)
    endif()
    # Its tests emulate the device node with umockdev (Debian: umockdev, libumockdev-dev).
    pkg_check_modules(UMOCKDEV QUIET IMPORTED_TARGET GLOBAL umockdev-1.0)
endif()
