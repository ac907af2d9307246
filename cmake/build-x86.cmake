# Configures the x86 tree the first time, then builds it and puts the 64-bit renderer beside its
# DLL: run by the x64 build, so that one build command makes both bitnesses. Takes SOURCE_DIR,
# BINARY_DIR, GENERATOR, BUILD_TYPE, BUILD_TESTING and RENDERER (the x64 tree's TorvView.exe).
include(${CMAKE_CURRENT_LIST_DIR}/sibling-tree.cmake)
torv_build_sibling_tree(x86 ${BINARY_DIR} ${SOURCE_DIR}/cmake/mingw-w64-i686.cmake)
# The x86 tree builds no renderer: its DLL starts the one 64-bit TorvView.exe beside it.
file(COPY_FILE ${RENDERER} ${BINARY_DIR}/bin/TorvView.exe ONLY_IF_DIFFERENT)
