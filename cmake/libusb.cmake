# libusb-1.0 (Debian: libusb-1.0-0-dev) for the class driver's backend to real scanners.
# Without it the build goes on without that backend.
find_package(PkgConfig QUIET)
set(B58_HAVE_LIBUSB OFF)
if(PkgConfig_FOUND)
    pkg_check_modules(LIBUSB IMPORTED_TARGET libusb-1.0)
    if(LIBUSB_FOUND)
        set(B58_HAVE_LIBUSB ON)
    endif()
endif()
