// The confinement mode, TorvView.exe --confinement <report file>: the renderer confines itself as it
// does for a thumbnail, then writes what became of each step and what Windows reports back, so that a
// person can see what a given Windows applies.
#pragma once

#include "renderer/exit_code.h"

// Creates or replaces the report file, confines the process and writes the report. kExitOk, or
// kExitNotConfined when the renderer would refuse to parse (the report says why), or
// kExitResultNotWritable when the report cannot be written.
ExitCode RunConfinementMode(const wchar_t* reportPath);
