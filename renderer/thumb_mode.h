// The thumbnail mode: the first page of a document into a result file, within the renderer's bounds.
#pragma once

#include "renderer/exit_code.h"
#include "renderer/arguments.h"

ExitCode RunThumbMode(const ThumbArguments& arguments);
