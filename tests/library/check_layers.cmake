# No source file of the driver includes a header of a layer above its own. A layer is a folder
# of src/; each may include its own headers and those of the layers it lists below.
# -DSOURCE_DIR=<src> [-DEXTRA_FILE=<file> -DEXTRA_LAYER=<layer>] (the latter to show that the
# check refuses an upward include).
cmake_minimum_required(VERSION 3.25)
set(allowed_platform platform)
set(allowed_contract contract)
set(allowed_state state contract platform)
set(allowed_settings settings state contract platform)
set(allowed_device device settings state contract platform)
set(allowed_calibration calibration device settings state contract platform)
set(allowed_scan scan device settings state contract platform)
set(allowed_api api calibration scan device settings state contract platform)
set(layers platform contract state settings device calibration scan api)

# Upward includes that remain until their files move to the layer that uses them:
# "<including file relative to src>|<included header>|<reason>".
set(exceptions
    "state/driver_state.h|scan/scan_session.h|the global state holds the scan session until one driver object in api/ owns it"
    "state/driver_state.h|scan/scan_run.h|the global state holds the scan run until one driver object in api/ owns it"
    "state/driver_state.h|device/command_channel.h|the global state holds the command channel until one driver object in api/ owns it"
    "state/driver_state.h|device/image_reader.h|the global state holds the image reader until one driver object in api/ owns it")

set(violations "")
set(files "")
foreach(layer IN LISTS layers)
    file(GLOB_RECURSE layer_files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/${layer}/*.h ${SOURCE_DIR}/${layer}/*.cpp)
    list(APPEND files ${layer_files})
endforeach()
if(EXTRA_FILE)
    list(APPEND files ${EXTRA_FILE})
endif()
set(checked 0)
foreach(relative IN LISTS files)
    if(EXTRA_FILE AND relative STREQUAL EXTRA_FILE)
        set(path ${EXTRA_FILE})
        set(layer ${EXTRA_LAYER})
    else()
        set(path ${SOURCE_DIR}/${relative})
        string(REGEX REPLACE "/.*" "" layer "${relative}")
    endif()
    math(EXPR checked "${checked} + 1")
    file(STRINGS ${path} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]+\"")
    foreach(line IN LISTS includes)
        string(REGEX REPLACE "^[^\"]*\"([^\"]+)\".*" "\\1" header "${line}")
        if(NOT header MATCHES "/")
            continue()  # beside the including file
        endif()
        string(REGEX REPLACE "/.*" "" target "${header}")
        if(NOT target IN_LIST layers OR target IN_LIST allowed_${layer})
            continue()
        endif()
        set(excused FALSE)
        foreach(exception IN LISTS exceptions)
            string(REPLACE "|" ";" parts "${exception}")
            list(GET parts 0 from)
            list(GET parts 1 to)
            if(from STREQUAL relative AND to STREQUAL header)
                set(excused TRUE)
            endif()
        endforeach()
        if(NOT excused)
            string(APPEND violations "\n  ${relative} (${layer}) includes ${header} (${target})")
        endif()
    endforeach()
endforeach()
if(violations)
    message(FATAL_ERROR "includes that reach a layer above their own:${violations}\n"
                        "See docs/architecture.md for who may include whom.")
endif()
message(STATUS "${checked} files keep to their layers")
