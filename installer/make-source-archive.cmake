# Makes the renderer's complete corresponding source, which its licence (AGPL-3.0-or-later, through
# MuPDF and jbig2dec) requires to be offered with it: the repository's files, engine build scripts
# included, and the engine's Debian source packages (.dsc, original and Debian tarballs) as
# third_party/fetch-sources downloaded them.
#
# cmake -DSOURCE_DIR=... -DOUTFILE=... -DSOURCE_DATE_EPOCH=... -P make-source-archive.cmake
cmake_minimum_required(VERSION 3.20)

find_program(GIT git)
find_program(TAR tar)
if(NOT GIT OR NOT TAR)
    message(FATAL_ERROR "source archive: git lists the repository's files and GNU tar packs them")
endif()
execute_process(COMMAND ${GIT} ls-files WORKING_DIRECTORY ${SOURCE_DIR}
                OUTPUT_VARIABLE tracked RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "source archive: ${SOURCE_DIR} is not a git checkout")
endif()
string(REPLACE "\n" ";" files "${tracked}")
list(FILTER files EXCLUDE REGEX "^$")

file(GLOB packages RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/third_party/sources/archives/*)
if(NOT packages)
    message(FATAL_ERROR "source archive: no Debian source packages in third_party/sources/archives: run scripts/setup")
endif()
list(APPEND files ${packages})

get_filename_component(dir ${OUTFILE} DIRECTORY)
file(MAKE_DIRECTORY ${dir})
string(REPLACE ";" "\n" list "${files}")
file(WRITE ${OUTFILE}.list "${list}\n")
# Uncompressed: the Debian tarballs are compressed already. The same bytes from every checkout of
# one commit: names in order, the commit's time, no owner, and the modes git knows (644 or 755).
execute_process(COMMAND ${TAR} --create --file=${OUTFILE} --format=gnu --sort=name
                        --mtime=@${SOURCE_DATE_EPOCH} --owner=0 --group=0 --numeric-owner
                        --mode=u+rw,go-w,a+rX --no-recursion --files-from=${OUTFILE}.list
                WORKING_DIRECTORY ${SOURCE_DIR} RESULT_VARIABLE status)
file(REMOVE ${OUTFILE}.list)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "source archive: tar failed")
endif()
