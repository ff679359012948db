// Where the process looks for a DLL loaded by name.
#pragma once

namespace memoline {

// From here on a DLL loaded by name (by us or by a system DLL on our behalf) comes from the system
// folder only: not from the program's folder, which for a downloaded tool is the Downloads folder
// where any web page can leave a file, nor from the current folder or PATH. Where the system lacks
// SetDefaultDllDirectories (Windows 7 without KB2533623) only the current folder is dropped.
void RestrictDllSearchToSystemFolder();

}  // namespace memoline
