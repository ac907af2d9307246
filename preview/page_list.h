// The renderer's page list file, read: every page's visible size in points, in page order, in the
// layout that renderer/page_list.h gives both programs.
#pragma once

#include "renderer/page_list.h"

#include <windows.h>

#include <vector>

// Reads the whole page list file at path. False, with pages untouched, when it cannot be read or is
// not exactly a list (DecodePageList's rules). Throws std::bad_alloc.
bool ReadPageListAt(const wchar_t* path, std::vector<PageSizePt>& pages);
