# The renderer's portable document path (open the document, list its pages, place and draw a page
# within the memory ceiling), which the Windows renderer and the native fuzz target both compile.
set(TORVVIEW_DOCUMENT_PATH_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/page_fit.cpp
    ${CMAKE_CURRENT_LIST_DIR}/engine_limits.cpp
    ${CMAKE_CURRENT_LIST_DIR}/document_page.cpp
    ${CMAKE_CURRENT_LIST_DIR}/file_stream.cpp
    ${CMAKE_CURRENT_LIST_DIR}/page_tree.cpp
    ${CMAKE_CURRENT_LIST_DIR}/font_match.cpp
    ${CMAKE_CURRENT_LIST_DIR}/system_fonts.cpp)
