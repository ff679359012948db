#include "app/InstalledProduct.h"

#include "app/CommonMethods.h"

namespace memoline {

bool IsServerInstalled() {
    return FileExists(kServerProgramPath);
}

bool IsClientInstalled() {
    return FileExists(kClientProgramPath);
}

bool IsInstalled() {
    return IsServerInstalled() || IsClientInstalled();
}

std::wstring GetInstalledVersion() {
    if (IsServerInstalled())
        return GetFileVersionString(kServerProgramPath);
    if (IsClientInstalled())
        return GetFileVersionString(kClientProgramPath);
    return {};
}

}  // namespace memoline
