// Keeps the renderer silent: it runs hidden for the Shell, so nothing may wait for a person.
#pragma once

// No error box, crash dialog or runtime message box for the rest of the process, even on a crash:
// a fault ends the process at once with the fault's code as its exit code, a stack overflow with the
// resource-limit code.
void StayUnattended() noexcept;
