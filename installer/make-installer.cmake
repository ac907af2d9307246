# Makes the installer at build time, because the licence files, the x86 DLLs and the ARM64 programs
# come from other builds: checks the payload, writes the files it installs as NSIS macros (OUTFILE's
# stem + ".nsh") and their install names as a plain list (stem + ".files"), and runs makensis when
# any input is newer than OUTFILE. With SIGN_P12 it first signs copies of the DLLs and the renderers
# (in OUTFILE's folder, under stem + "-payload", the ARM64 ones in its arm64 folder), and makensis
# signs the uninstaller and the installer it writes: the password is read from TORV_SIGN_PASSWORD by
# sign-pe.
#
# cmake -DINPUTS=<stem>.inputs.cmake -DOUTFILE=... [-DSIGN_P12=CERT.p12] -P make-installer.cmake
cmake_minimum_required(VERSION 3.21)

# The paths and the version, written by the build (torv_add_installer).
include("${INPUTS}")

foreach(input MAKENSIS NSI VERSION_NSH DLL64 DLL32 PREVIEW64 PREVIEW32 VIEWER DLL_ARM64 PREVIEW_ARM64 VIEWER_ARM64
              LICENSE LICENSES_DIR)
    if(NOT EXISTS "${${input}}")
        message(FATAL_ERROR "installer: ${input} \"${${input}}\" does not exist")
    endif()
endforeach()
get_filename_component(out_dir "${OUTFILE}" DIRECTORY)
get_filename_component(stem "${OUTFILE}" NAME_WLE)
set(PAYLOAD_NSH "${out_dir}/${stem}.nsh")
set(MANIFEST "${out_dir}/${stem}.files")

# Our own licence is a filled-in template: refuse one that still holds a blank of it.
file(READ "${LICENSE}" text)
foreach(blank "<year>" "[year]" "[yyyy]" "<copyright holders>" "[fullname]" "<name of author>")
    string(FIND "${text}" "${blank}" at)
    if(NOT at EQUAL -1)
        message(FATAL_ERROR "installer: ${LICENSE} still holds the placeholder ${blank}")
    endif()
endforeach()

# Install names, the machine each is for ("any": every one; x64 and arm64: the machine Windows runs
# on natively) and their sources, in the order the installer places them.
set(program_names torvthumb.dll torvthumb32.dll torvpreview.dll torvpreview32.dll TorvView.exe
                  torvthumb.dll torvpreview.dll TorvView.exe)
set(program_machines x64 any x64 any x64 arm64 arm64 arm64)
set(programs "${DLL64}" "${DLL32}" "${PREVIEW64}" "${PREVIEW32}" "${VIEWER}" "${DLL_ARM64}" "${PREVIEW_ARM64}"
             "${VIEWER_ARM64}")

# A copy of each program under its install name, signed (those for ARM64 in a folder of their own);
# the unsigned build's files stay as they are.
function(sign_copies out)
    set(ENV{TORV_SIGN_P12} "${SIGN_P12}")
    set(ENV{SOURCE_DATE_EPOCH} "${SOURCE_DATE_EPOCH}")
    set(dir "${out_dir}/${stem}-payload")
    file(REMOVE_RECURSE "${dir}")
    file(MAKE_DIRECTORY "${dir}" "${dir}/arm64")
    set(signed "")
    foreach(name machine program IN ZIP_LISTS program_names program_machines programs)
        set(copy "${dir}/${name}")
        if(machine STREQUAL arm64)
            set(copy "${dir}/arm64/${name}")
        endif()
        file(COPY_FILE "${program}" "${copy}")
        execute_process(COMMAND "${SIGN_PE}" "${copy}" RESULT_VARIABLE status)
        if(NOT status EQUAL 0)
            message(FATAL_ERROR "installer: cannot sign ${copy}")
        endif()
        list(APPEND signed "${copy}")
    endforeach()
    set(${out} "${signed}" PARENT_SCOPE)
endfunction()
if(SIGN_P12)
    sign_copies(programs)
endif()
set(names ${program_names} LICENSE)
set(machines ${program_machines} any)
set(sources ${programs} "${LICENSE}")

file(GLOB_RECURSE entries LIST_DIRECTORIES true RELATIVE "${LICENSES_DIR}" "${LICENSES_DIR}/*")
list(SORT entries)
set(dirs licenses)
foreach(entry ${entries})
    string(REPLACE "/" "\\" name "licenses/${entry}")
    if(IS_DIRECTORY "${LICENSES_DIR}/${entry}")
        list(APPEND dirs "${name}")
    else()
        list(APPEND names "${name}")
        list(APPEND machines any)
        list(APPEND sources "${LICENSES_DIR}/${entry}")
    endif()
endforeach()

# NSIS reads "$" as the start of a variable in every string that the installer uses at run time.
function(nsis_quote out text)
    string(REPLACE "$" "$$" text "${text}")
    set(${out} "\"${text}\"" PARENT_SCOPE)
endfunction()

function(nsis_macro out macro)
    set(text "!macro ${macro} CALL\n")
    foreach(item ${ARGN})
        nsis_quote(quoted "${item}")
        string(APPEND text "  !insertmacro \${CALL} ${quoted}\n")
    endforeach()
    set(${out} "${text}!macroend\n" PARENT_SCOPE)
endfunction()

# Rewritten only when the text changes, so that the time stamp says when the list last did.
function(write_if_changed path text)
    set(old "")
    if(EXISTS "${path}")
        file(READ "${path}" old)
    endif()
    if(NOT old STREQUAL text)
        file(WRITE "${path}" "${text}")
    endif()
endfunction()

set(nsh "; Made by installer/make-installer.cmake: what the installer places under $INSTDIR.\n")
string(APPEND nsh "!macro TORV_PAYLOAD_FILES CALL\n")
set(manifest_names "")
foreach(name machine source IN ZIP_LISTS names machines sources)
    nsis_quote(quoted_name "${name}")
    # The compiler takes a source path as it is.
    string(APPEND nsh "  !insertmacro \${CALL} ${quoted_name} \"${source}\" ${machine}\n")
    list(APPEND manifest_names "${name}")
endforeach()
# Each install name once, whichever machine's file it is.
list(REMOVE_DUPLICATES manifest_names)
list(JOIN manifest_names "\n" manifest)
string(APPEND manifest "\n")
string(APPEND nsh "!macroend\n")
# Folders parents first for creating them, deepest first for removing them.
nsis_macro(text TORV_PAYLOAD_DIRS ${dirs})
string(APPEND nsh "${text}")
list(REVERSE dirs)
nsis_macro(text TORV_PAYLOAD_DIRS_DEEPEST_FIRST ${dirs})
string(APPEND nsh "${text}")
write_if_changed("${PAYLOAD_NSH}" "${nsh}")
write_if_changed("${MANIFEST}" "${manifest}")

set(stale FALSE)
foreach(input "${NSI}" "${VERSION_NSH}" "${INPUTS}" "${PAYLOAD_NSH}" "${CMAKE_CURRENT_LIST_FILE}" ${sources})
    if(NOT EXISTS "${OUTFILE}" OR "${input}" IS_NEWER_THAN "${OUTFILE}")
        set(stale TRUE)
    endif()
endforeach()
if(NOT stale)
    return()
endif()

set(defines "-DTORV_VERSION_NSH=${VERSION_NSH}" "-DTORV_PAYLOAD_NSH=${PAYLOAD_NSH}" "-DTORV_OUTFILE=${OUTFILE}")
if(VERSION)
    list(APPEND defines "-DTORV_VERSION=${VERSION}")
endif()
# For the tests' installers only: the machine to take as native, and the regsvr32 to run there.
if(TEST_NATIVE_MACHINE)
    list(APPEND defines "-DTORV_TEST_NATIVE_MACHINE=${TEST_NATIVE_MACHINE}" "-DTORV_TEST_REGSVR32=${TEST_REGSVR32}")
endif()
if(SIGN_P12)
    list(APPEND defines "-DTORV_SIGN_PE=${SIGN_PE}")
endif()
file(MAKE_DIRECTORY "${out_dir}")
# -WX: a warning (an unused function, a missing file) fails the build.
execute_process(COMMAND "${MAKENSIS}" -V2 -WX ${defines} "${NSI}"
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
    file(REMOVE "${OUTFILE}")
    message(FATAL_ERROR "installer: makensis failed:\n${output}")
endif()
file(SIZE "${OUTFILE}" size)
message(STATUS "installer: ${OUTFILE} (${size} bytes)")
