// The document file as the engine's stream, read in windows that seeks within them keep. Portable.
#pragma once

#include <mupdf/fitz.h>

#include <cstdio>

// The engine's own file stream reads anew at every seek, and the engine seeks to every object it
// loads: listing 10,000 pages then costs 10,000 reads of the system. This one keeps its last window
// of the file and serves a seek into it from memory.
constexpr size_t kFileWindowBytes = size_t(64) << 10;

// A stream over file, which it owns from here on: closed with the stream, or at once if the stream
// cannot be made (the engine's error is thrown then).
fz_stream* OpenWindowedFile(fz_context* ctx, FILE* file);
