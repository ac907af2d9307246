// The renderer's exit codes: the DLL only tells 0 from the rest; people and tests tell them apart.
#pragma once

enum ExitCode : int {
    kExitOk = 0,
    kExitUsage = 2,
    kExitDocumentUnreadable = 3,
    kExitNotPdf = 4,
    kExitResultNotWritable = 5,
    kExitPasswordProtected = 6,
    kExitEngineFailed = 7,    // the engine cannot open the document, it has no pages, or page 1 fails
    kExitResourceLimit = 8,   // the memory ceiling, the time budget or the stack was reached
    kExitNotConfined = 9,     // the token could not be lowered to Low integrity, so nothing was parsed
};
