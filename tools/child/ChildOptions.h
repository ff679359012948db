// Behaviour of the stand-in child programs, taken from their command line and from an optional file
// beside the program ("<program without .exe>.options", one line of the same options), so a copy
// started with fixed parameters (a setup program started with "/silent") can still be told what to do.
//   --exit-code=N      exit with N (default 0)
//   --after-ms=N       run N milliseconds before ending (default 0; window child: 0 = until closed)
//   --wait-event=NAME  exit_after: then wait until the named event is set (at most 60 s), so a test
//                      knows the child still runs until it says otherwise
//   --record=PATH      append "cmdline=<command line>" and "cwd=<working directory>" lines (UTF-8)
//   --copy-from=SRC --copy-to=DST   copy a file just before exiting (a setup that installs something)
//   --title=TEXT       caption of the window child's window
// Anything else (such as "/silent") is ignored, and recorded with the command line.
#pragma once

#include <string>

namespace memoline::child {

struct Options {
    unsigned exitCode = 0;
    unsigned afterMs = 0;
    std::wstring waitEvent;
    std::wstring record;
    std::wstring copyFrom;
    std::wstring copyTo;
    std::wstring title = L"Memoline child window";
};

// Reads the options file beside the program, then the command line (which wins).
Options ReadOptions();
// Appends the command line and working directory to options.record, if set.
void Record(const Options& options);
// Does the copy, if asked; returns false when it failed.
bool CopyIfAsked(const Options& options);

}  // namespace memoline::child
