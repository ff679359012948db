// Reads the version resource of a program file: the four numbers of the file version, four build
// flags and ten descriptive texts. Never reports an error: what cannot be read is 0, false or
// "Value Not Available".
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/Component.h"

namespace memoline {

class TFileVersionInfo;

// Something that shows a reader's results and is refreshed after each read.
class IVersionInfoDisplay {
public:
    virtual ~IVersionInfoDisplay() = default;
    virtual void VersionInfoChanged(TFileVersionInfo& info) = 0;
};

class TFileVersionInfo : public TComponent {
public:
    // Reads the running program's own file at once and leaves its full path in FilePath.
    explicit TFileVersionInfo(TComponent* owner = nullptr);

    const std::wstring& FilePath() const { return FFilePath; }
    // Reads the file's resource unless `path` equals the current path exactly (case-sensitive).
    // An empty path reads the running program's own file.
    void SetFilePath(const std::wstring& path);

    bool VersionInfoAvailable() const { return FVersionInfoAvailable; }
    uint16_t MajorVersion() const { return FVersionNumbers[0]; }
    uint16_t MinorVersion() const { return FVersionNumbers[1]; }
    uint16_t Release() const { return FVersionNumbers[2]; }
    uint16_t Build() const { return FVersionNumbers[3]; }
    bool DebugBuild() const { return FModuleAttributes[0]; }
    bool PreRelease() const { return FModuleAttributes[1]; }
    bool PrivateBuild() const { return FModuleAttributes[2]; }
    bool SpecialBuild() const { return FModuleAttributes[3]; }

    const std::wstring& CompanyName() const { return FVersionInfo[0]; }
    const std::wstring& FileDescription() const { return FVersionInfo[1]; }
    const std::wstring& FileVersion() const { return FVersionInfo[2]; }
    const std::wstring& InternalName() const { return FVersionInfo[3]; }
    const std::wstring& Copyright() const { return FVersionInfo[4]; }
    const std::wstring& Trademarks() const { return FVersionInfo[5]; }
    const std::wstring& OriginalFilename() const { return FVersionInfo[6]; }
    const std::wstring& ProductName() const { return FVersionInfo[7]; }
    const std::wstring& ProductVersion() const { return FVersionInfo[8]; }
    const std::wstring& Comments() const { return FVersionInfo[9]; }

    // Displays refreshed after each read; the reader does not own them.
    void AttachDisplay(IVersionInfoDisplay* display);
    void DetachDisplay(IVersionInfoDisplay* display);

    // Called when a stored layout has been restored: reads once.
    void Loaded();

    static constexpr const wchar_t* kValueNotAvailable = L"Value Not Available";

private:
    void ReadVersionInfo();
    void RefreshDisplays();

    std::wstring FFilePath;
    std::vector<std::wstring> FVersionInfo;
    bool FVersionInfoAvailable = false;
    std::vector<IVersionInfoDisplay*> FStatusList;
    std::array<uint16_t, 4> FVersionNumbers{};
    std::array<bool, 4> FModuleAttributes{};
};

}  // namespace memoline
