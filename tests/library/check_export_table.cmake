# Checks a built library against the one list of entry points, kExportNames in
# src/api/exports.h.
#
#   cmake -DHEADER=<exports.h> -DEXPORT_LIST=<exports.map | b58spi.def>
#         -DLIBRARY=<libb58spi.so | b58spi.dll> -DTOOL=<nm | objdump> -P check_export_table.cmake
#   cmake -DLIBRARY=<program.exe> -DTOOL=<objdump> -DIMPORTS_ONLY=ON -P check_export_table.cmake
#
# The linker's export list (.map or .def) must name exactly those entry points, and the
# library must export exactly them: no name missing, none extra, none decorated. A Windows
# image must be 32-bit and import only DLLs that every Windows system has; with IMPORTS_ONLY
# (a host program) only that is checked.

cmake_minimum_required(VERSION 3.25)

set(failures "")

# Compares a list of names with the expected one as sets; a name listed twice is a fault.
function(compare_names what expected actual)
    set(problems "")
    list(LENGTH actual count)
    list(REMOVE_DUPLICATES actual)
    list(LENGTH actual distinct)
    if(NOT count EQUAL distinct)
        string(APPEND problems "  ${what}: a name is listed twice\n")
    endif()
    foreach(name IN LISTS expected)
        if(NOT name IN_LIST actual)
            string(APPEND problems "  ${what}: missing ${name}\n")
        endif()
    endforeach()
    foreach(name IN LISTS actual)
        if(NOT name IN_LIST expected)
            string(APPEND problems "  ${what}: unexpected ${name}\n")
        endif()
    endforeach()
    set(failures "${failures}${problems}" PARENT_SCOPE)
endfunction()

# The quoted names between "kExportNames[] = {" and "}".
function(read_entry_points header out)
    file(READ "${header}" text)
    if(NOT text MATCHES "kExportNames\\[\\] = {([^}]*)}")
        message(FATAL_ERROR "no kExportNames list in ${header}")
    endif()
    string(REGEX MATCHALL "\"[A-Za-z_][A-Za-z0-9_]*\"" quoted "${CMAKE_MATCH_1}")
    string(REPLACE "\"" "" names "${quoted}")
    set(${out} "${names}" PARENT_SCOPE)
endfunction()

# The names a .def file exports (lines after EXPORTS) or a version script makes global
# (between "global:" and "local:"). Anything but a plain name is a fault: an ordinal, an
# alias or a pattern would change what the library exports.
function(read_export_list file out)
    file(READ "${file}" text)
    set(problems "")
    if(file MATCHES "\\.def$")
        string(REGEX REPLACE ";[^\n]*" "" text "${text}")
        if(NOT text MATCHES "EXPORTS\n(.*)$")
            message(FATAL_ERROR "no EXPORTS section in ${file}")
        endif()
        set(body "${CMAKE_MATCH_1}")
    else()
        string(REGEX REPLACE "#[^\n]*" "" text "${text}")
        if(NOT text MATCHES "global:([^:]*)local:")
            message(FATAL_ERROR "no global: ... local: section in ${file}")
        endif()
        string(REPLACE ";" "\n" body "${CMAKE_MATCH_1}")
    endif()
    string(REGEX MATCHALL "[^ \t\n]+" words "${body}")
    set(names "")
    foreach(word IN LISTS words)
        if(word MATCHES "^[A-Za-z_][A-Za-z0-9_]*$")
            list(APPEND names ${word})
        else()
            string(APPEND problems "  ${file}: not a plain name: '${word}'\n")
        endif()
    endforeach()
    set(failures "${failures}${problems}" PARENT_SCOPE)
    set(${out} "${names}" PARENT_SCOPE)
endfunction()

# --- a Windows image: objdump -p ----------------------------------------------------------
function(read_pe_image file out)
    execute_process(COMMAND "${TOOL}" -p "${file}" OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${TOOL} -p ${file} failed (${rc})")
    endif()
    set(problems "")
    if(NOT dump MATCHES "file format pei-i386")
        string(APPEND problems "  ${file} is not a 32-bit Windows image\n")
    endif()
    # Imports: only DLLs that come with Windows, so the file loads on a bare system.
    string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
    foreach(import IN LISTS imports)
        string(REGEX REPLACE "^DLL Name: " "" dll "${import}")
        string(STRIP "${dll}" dll)
        string(TOLOWER "${dll}" lower)
        if(NOT lower MATCHES "^(kernel32|advapi32|setupapi|user32|msvcrt|ucrtbase|ntdll)\\.dll$"
           AND NOT lower MATCHES "^api-ms-win-[a-z0-9-]+\\.dll$")
            string(APPEND problems "  ${file} imports ${dll}, which is not a system DLL\n")
        endif()
    endforeach()
    # Named exports: "[   n] name" lines under "[Ordinal/Name Pointer] Table".
    set(names "")
    if(dump MATCHES "\\[Ordinal/Name Pointer\\] Table\n(([ \t]+\\[ *[0-9]+\\] [^\n]+\n)*)")
        string(REGEX MATCHALL "\\] [^\n]+" entries "${CMAKE_MATCH_1}")
        string(REGEX REPLACE "\\] " "" names "${entries}")
    endif()
    # Every exported address has a name: an export by ordinal only would be one more.
    if(dump MATCHES "Export Address Table[ \t]+([0-9a-fA-F]+)\n")
        math(EXPR addresses "0x${CMAKE_MATCH_1}")
        list(LENGTH names named)
        if(NOT addresses EQUAL named)
            string(APPEND problems "  ${file}: ${addresses} exported addresses but ${named} names\n")
        endif()
    endif()
    set(failures "${failures}${problems}" PARENT_SCOPE)
    set(${out} "${names}" PARENT_SCOPE)
endfunction()

# --- a Linux library: nm -D --defined-only ------------------------------------------------
function(read_elf_exports file out)
    execute_process(COMMAND "${TOOL}" -D --defined-only "${file}" OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${TOOL} -D ${file} failed (${rc})")
    endif()
    # "address type name" per line; a versioned name keeps its "@VERSION", which makes it
    # differ from the plain name and so shows up as unexpected.
    string(REGEX MATCHALL "[0-9a-fA-F]+ [A-Za-z] [^\n]+" lines "${dump}")
    string(REGEX REPLACE "[0-9a-fA-F]+ [A-Za-z] " "" names "${lines}")
    set(${out} "${names}" PARENT_SCOPE)
endfunction()

# --- the checks ----------------------------------------------------------------------------
foreach(var LIBRARY TOOL)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "check_export_table: ${var} is not set")
    endif()
endforeach()
if(NOT EXISTS "${LIBRARY}")
    message(FATAL_ERROR "check_export_table: ${LIBRARY} does not exist")
endif()

if(TOOL MATCHES "objdump")
    read_pe_image("${LIBRARY}" exported)
else()
    read_elf_exports("${LIBRARY}" exported)
endif()

if(IMPORTS_ONLY)
    set(summary "imports only system DLLs")
else()
    read_entry_points("${HEADER}" expected)
    list(LENGTH expected count)
    if(NOT count EQUAL 15)
        string(APPEND failures "  kExportNames holds ${count} names; the driver has fifteen entry points\n")
    endif()
    read_export_list("${EXPORT_LIST}" listed)
    compare_names("${EXPORT_LIST}" "${expected}" "${listed}")
    compare_names("${LIBRARY}" "${expected}" "${exported}")
    list(JOIN expected " " joined)
    set(summary "exports exactly the ${count} entry points ${joined}")
endif()

if(failures)
    message(FATAL_ERROR "${LIBRARY}:\n${failures}")
endif()
message(STATUS "${LIBRARY} ${summary}")
