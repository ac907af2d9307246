# The licences and notices that the engine's components require, one file per component, and the
# versions built, into bin/licenses/ beside the renderer.

set(LICENSES_DIR ${CMAKE_BINARY_DIR}/bin/licenses)

# Versions as the unpacked Debian changelogs give them, and the newer versions that the source
# lists named but the mirror did not serve when the sources were fetched.
get_property(versions GLOBAL PROPERTY ENGINE_VERSIONS)
list(SORT versions)
list(JOIN versions "\n" versions)
set(unfetchable_file ${ENGINE_SOURCES}/unfetchable.txt)
set(unfetchable "")
if(EXISTS ${unfetchable_file})
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${unfetchable_file})
    file(STRINGS ${unfetchable_file} unfetchable)
    list(JOIN unfetchable "\n" unfetchable)
endif()
if(unfetchable STREQUAL "")
    set(unfetchable "none")
endif()
set(routes_file ${ENGINE_SOURCES}/routes.txt)
set(routes "")
if(EXISTS ${routes_file})
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${routes_file})
    file(STRINGS ${routes_file} routes)
    list(SORT routes)
    list(JOIN routes "\n" routes)
endif()
file(GLOB own_patches RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/patches/*/*.patch)
list(JOIN own_patches "\n" own_patches)
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/engine-versions.txt @ONLY CONTENT [[
The PDF engine linked into TorvView.exe: source packages of Debian's stable release, FreeType's and
zlib's of Debian unstable (newer upstream versions, with fixes that stable's lack), unpacked with
Debian's patches applied, then torvthumb's own (third_party/patches/: fixes backported from upstream,
each naming its upstream commit), built by torvthumb's third_party/ build files.

Source package, Debian version (the distribution its latest changelog entry names):
@versions@

How each package was fetched:
@routes@

Newer versions listed by the source lists but not fetchable from the mirror, so not built:
@unfetchable@

The project's own patches, applied after Debian's:
@own_patches@
]])

function(engine_license_file name)
    set(output ${LICENSES_DIR}/${name})
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} "-DOUTPUT=${output}" "-DINPUTS=${ARGN}" "-DBASE=${ENGINE_SOURCES}" -P ${CMAKE_CURRENT_SOURCE_DIR}/join-files.cmake
        DEPENDS ${ARGN} ${CMAKE_CURRENT_SOURCE_DIR}/join-files.cmake
        VERBATIM)
    set_property(DIRECTORY APPEND PROPERTY ENGINE_LICENSE_FILES ${output})
endfunction()

engine_license_file(engine-versions.txt ${CMAKE_CURRENT_BINARY_DIR}/engine-versions.txt)
engine_license_file(torvthumb.txt ${CMAKE_SOURCE_DIR}/LICENSE)
engine_license_file(source.txt ${CMAKE_CURRENT_SOURCE_DIR}/notices/source.txt)
engine_license_file(mupdf.txt ${MUPDF_DIR}/COPYING ${MUPDF_DIR}/debian/copyright)
engine_license_file(urw-base14-fonts.txt ${URW_DIR}/LICENSE ${URW_DIR}/COPYING ${URW_DIR}/debian/copyright)
engine_license_file(jbig2dec.txt
    ${JBIG2DEC_DIR}/LICENSE ${JBIG2DEC_DIR}/COPYING ${JBIG2DEC_DIR}/debian/copyright)
engine_license_file(freetype.txt
    ${CMAKE_CURRENT_SOURCE_DIR}/notices/freetype.txt
    ${FREETYPE_DIR}/LICENSE.TXT ${FREETYPE_DIR}/docs/FTL.TXT ${FREETYPE_DIR}/debian/copyright)
engine_license_file(libjpeg-turbo.txt
    ${CMAKE_CURRENT_SOURCE_DIR}/notices/libjpeg-turbo.txt
    ${LIBJPEG_DIR}/LICENSE.md ${LIBJPEG_DIR}/README.ijg ${LIBJPEG_DIR}/debian/copyright)
engine_license_file(openjpeg.txt ${OPENJPEG_DIR}/LICENSE ${OPENJPEG_DIR}/debian/copyright)
engine_license_file(zlib.txt ${ZLIB_DIR}/LICENSE ${ZLIB_DIR}/debian/copyright)

get_property(license_files DIRECTORY PROPERTY ENGINE_LICENSE_FILES)
add_custom_target(engine_licenses ALL DEPENDS ${license_files})
