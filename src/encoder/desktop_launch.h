// Starting the window: the batch program carries no Qt, so without arguments it hands the
// process over to the window program that sits beside it; both tell a user without a display
// why no window opens, in the same words.
#pragma once

namespace quillon {

// The window program's file name, in the batch program's own folder.
inline constexpr const char* kDesktopProgramName = "quillon-desktop";

// True when Qt has somewhere to open a window: DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM.
bool HaveDisplay();

// Prints to standard error why there is no window and how to convert without one; returns the
// exit status for it (2).
int ReportNoDisplay();

// Replaces this process with kDesktopProgramName from ApplicationFolder(), passing argv on
// (a null-terminated list, as main receives it). Returns only when that fails, after printing
// the path tried and the reason; the return value is the exit status (1).
int StartDesktopProgram(char** argv);

}  // namespace quillon
