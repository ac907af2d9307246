// The page mode: a document's page list and one of its pages fitted to a width, for the preview
// pane, within the renderer's bounds.
#pragma once

#include "renderer/arguments.h"
#include "renderer/exit_code.h"

ExitCode RunPageMode(const PageArguments& arguments);
