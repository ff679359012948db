#include "tests/support/VersionResource.h"

#include <gtest/gtest.h>

#include "tests/support/TestFiles.h"

namespace memoline::test {
namespace {

// One node of a version resource: header (length, value length, type), key, value, children.
class Writer {
public:
    size_t Begin(const std::wstring& key, WORD valueLength, WORD type) {
        Align();
        size_t start = bytes_.size();
        PutWord(0);  // patched by End
        PutWord(valueLength);
        PutWord(type);
        for (wchar_t c : key)
            PutWord(static_cast<WORD>(c));
        PutWord(0);
        Align();
        return start;
    }
    void End(size_t start) {
        WORD length = static_cast<WORD>(bytes_.size() - start);
        bytes_[start] = static_cast<BYTE>(length & 0xFF);
        bytes_[start + 1] = static_cast<BYTE>(length >> 8);
    }
    void PutWord(WORD w) {
        bytes_.push_back(static_cast<BYTE>(w & 0xFF));
        bytes_.push_back(static_cast<BYTE>(w >> 8));
    }
    void PutDword(DWORD d) {
        PutWord(LOWORD(d));
        PutWord(HIWORD(d));
    }
    void Align() {
        while (bytes_.size() % 4)
            bytes_.push_back(0);
    }
    std::vector<BYTE> Take() { return std::move(bytes_); }

private:
    std::vector<BYTE> bytes_;
};

}  // namespace

std::vector<BYTE> BuildVersionResource(const VersionResourceSpec& spec) {
    Writer w;
    size_t root = w.Begin(L"VS_VERSION_INFO", sizeof(VS_FIXEDFILEINFO), 0);
    w.PutDword(0xFEEF04BD);  // signature
    w.PutDword(0x00010000);  // structure version
    w.PutDword(MAKELONG(spec.fileVersion[1], spec.fileVersion[0]));
    w.PutDword(MAKELONG(spec.fileVersion[3], spec.fileVersion[2]));
    w.PutDword(MAKELONG(spec.productVersion[1], spec.productVersion[0]));
    w.PutDword(MAKELONG(spec.productVersion[3], spec.productVersion[2]));
    w.PutDword(spec.fileFlagsMask);
    w.PutDword(spec.fileFlags);
    w.PutDword(VOS_NT_WINDOWS32);
    w.PutDword(VFT_APP);
    w.PutDword(0);
    w.PutDword(0);
    w.PutDword(0);

    if (!spec.strings.empty()) {
        size_t info = w.Begin(L"StringFileInfo", 0, 1);
        size_t table = w.Begin(spec.stringTable, 0, 1);
        for (const auto& [key, value] : spec.strings) {
            size_t s = w.Begin(key, static_cast<WORD>(value.size() + 1), 1);
            for (wchar_t c : value)
                w.PutWord(static_cast<WORD>(c));
            w.PutWord(0);
            w.End(s);
        }
        w.End(table);
        w.End(info);
    }
    if (!spec.translations.empty()) {
        size_t info = w.Begin(L"VarFileInfo", 0, 1);
        size_t var = w.Begin(L"Translation", static_cast<WORD>(spec.translations.size() * 4), 0);
        for (DWORD t : spec.translations)
            w.PutDword(t);
        w.End(var);
        w.End(info);
    }
    w.End(root);
    return w.Take();
}

void WriteProgramFile(const std::wstring& path, const VersionResourceSpec* spec) {
    CreateParentDirectories(path);
    const std::wstring stub = BinDir() + L"memoline_stub.exe";
    ASSERT_TRUE(CopyFileW(stub.c_str(), path.c_str(), FALSE)) << "copy stub, error " << GetLastError();
    if (!spec)
        return;
    std::vector<BYTE> resource = BuildVersionResource(*spec);
    HANDLE update = BeginUpdateResourceW(path.c_str(), FALSE);
    ASSERT_NE(update, nullptr) << "BeginUpdateResource, error " << GetLastError();
    ASSERT_TRUE(UpdateResourceW(update, RT_VERSION, MAKEINTRESOURCEW(VS_VERSION_INFO),
                                MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), resource.data(),
                                static_cast<DWORD>(resource.size())));
    ASSERT_TRUE(EndUpdateResourceW(update, FALSE)) << "EndUpdateResource, error " << GetLastError();
}

std::array<uint16_t, 4> ParseDottedVersion(const std::wstring& text) {
    std::array<uint16_t, 4> parts{};
    size_t index = 0, start = 0;
    while (index < 4 && start <= text.size()) {
        size_t dot = text.find(L'.', start);
        parts[index++] = static_cast<uint16_t>(std::stoul(text.substr(start, dot - start)));
        if (dot == std::wstring::npos)
            break;
        start = dot + 1;
    }
    return parts;
}

void WriteVersionedProgram(const std::wstring& path, const std::wstring& dottedVersion) {
    VersionResourceSpec spec;
    spec.fileVersion = ParseDottedVersion(dottedVersion);
    spec.productVersion = spec.fileVersion;
    WriteProgramFile(path, &spec);
}

}  // namespace memoline::test
