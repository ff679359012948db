// The folder a downloaded setup program lives in: new for every download, under the temporary
// directory, with a name nobody can guess. A setup program runs elevated and loads DLLs from its own
// folder first, so that folder must hold nothing but the setup program when it starts.
#pragma once

#include <string>
#include <vector>

namespace memoline {

class TSetupFolder {
public:
    // Makes a new folder under `parent` (with its trailing backslash). Path() is empty when no folder
    // could be made; Error() then holds the system's error value.
    explicit TSetupFolder(const std::wstring& parent);
    // Removes the folder with whatever is in it.
    ~TSetupFolder();
    TSetupFolder(const TSetupFolder&) = delete;
    TSetupFolder& operator=(const TSetupFolder&) = delete;

    // The folder, with its trailing backslash; empty when it could not be made.
    const std::wstring& Path() const { return FPath; }
    unsigned long Error() const { return FError; }
    // The names in the folder other than `name` (a plain file); a sub-folder named `name` counts too.
    std::vector<std::wstring> OtherEntries(const std::wstring& name) const;
    // Removes the folder and what it holds now; true when it is gone.
    bool Remove();

private:
    std::wstring FPath;
    unsigned long FError = 0;
};

}  // namespace memoline
