// Files and folders for tests: the folder of the test programs, scratch folders, and the product's
// installation at its fixed paths (real paths under Wine's C: drive).
#pragma once

#include <optional>
#include <string>

namespace memoline::test {

// The folder of the running test program, with a trailing backslash; helper programs live there.
std::wstring BinDir();

void CreateParentDirectories(const std::wstring& path);
void CreateDirectories(const std::wstring& dir);
// Removes a file or a whole folder; missing is fine.
void RemoveTree(const std::wstring& path);

std::wstring ReadFileBytes(const std::wstring& path, bool* ok = nullptr);  // bytes widened 1:1
std::string ReadFileRaw(const std::wstring& path);
void WriteFileRaw(const std::wstring& path, const std::string& bytes);

// A fresh empty folder under the temporary directory, removed with the object.
class ScratchDir {
public:
    explicit ScratchDir(const std::wstring& name);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::wstring& Path() const { return path_; }  // with trailing backslash
    std::wstring operator/(const std::wstring& name) const { return path_ + name; }

private:
    std::wstring path_;
};

// The product's folders C:\Memoline5Server and C:\Memoline5, emptied on creation and removed with
// the object. Programs are written with the given version, or without version resource for "".
class ProductInstallation {
public:
    ProductInstallation();
    ~ProductInstallation();
    ProductInstallation(const ProductInstallation&) = delete;
    ProductInstallation& operator=(const ProductInstallation&) = delete;

    void InstallServer(const std::wstring& version);
    void InstallClient(const std::wstring& version);
    // A stub program at C:\Memoline5Server\DataUpdate.exe.
    void InstallDataUpdate(const std::wstring& programPath);
};

}  // namespace memoline::test
