// One thumbnail request made the way the Shell makes it: load the handler's DLL, get its class
// object, create and initialise the provider, ask for the thumbnail, release everything and
// unload the DLL if it says it may.
#pragma once

#include "shared/unique_resource.h"
#include "tools/host/handler_registry.h"
#include "tools/host/step_result.h"

#include <thumbcache.h>

#include <string>

struct ThumbnailOutcome {
    StepResult result;
    UniqueBitmap bitmap;  // set only on success
    WTS_ALPHATYPE alphaType = WTSAT_UNKNOWN;
    bool leftLoaded = false;  // the DLL could not be unloaded after everything was released
};

// The calling thread must be in a COM apartment. documentPath is passed to the handler as given.
ThumbnailOutcome RequestThumbnail(const ShellHandler& handler, const std::wstring& documentPath, UINT size);
