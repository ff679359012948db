// The Windows charsets: a table of charset names and the code pages they select, converted by the
// system's MultiByteToWideChar and WideCharToMultiByte.
#include <windows.h>

#include <climits>

#include "http/Charset.h"
#include "http/CharsetNames.h"

namespace memoline {
namespace {

const CharsetName kNames[] = {
    {L"utf-8", 65001},       {L"utf8", 65001},         {L"utf-7", 65000},
    {L"us-ascii", 20127},    {L"ascii", 20127},        {L"iso-8859-1", 28591},
    {L"iso8859-1", 28591},   {L"iso_8859-1", 28591},   {L"latin1", 28591},
    {L"iso-8859-2", 28592},  {L"iso-8859-3", 28593},   {L"iso-8859-4", 28594},
    {L"iso-8859-5", 28595},  {L"iso-8859-6", 28596},   {L"iso-8859-7", 28597},
    {L"iso-8859-8", 28598},  {L"iso-8859-9", 28599},   {L"iso-8859-13", 28603},
    {L"iso-8859-15", 28605}, {L"windows-874", 874},    {L"windows-1250", 1250},
    {L"windows-1251", 1251}, {L"windows-1252", 1252},  {L"windows-1253", 1253},
    {L"windows-1254", 1254}, {L"windows-1255", 1255},  {L"windows-1256", 1256},
    {L"windows-1257", 1257}, {L"windows-1258", 1258},  {L"cp1250", 1250},
    {L"cp1251", 1251},       {L"cp1252", 1252},        {L"koi8-r", 20866},
    {L"koi8-u", 21866},      {L"ibm437", 437},         {L"ibm850", 850},
    {L"ibm866", 866},        {L"cp866", 866},          {L"shift_jis", 932},
    {L"euc-jp", 20932},      {L"iso-2022-jp", 50220},  {L"gb2312", 936},
    {L"gbk", 936},           {L"gb18030", 54936},      {L"big5", 950},
    {L"euc-kr", 949},        {L"ks_c_5601-1987", 949},
};

// Code pages that reject every flag of WideCharToMultiByte (ERROR_INVALID_FLAGS otherwise).
bool TakesNoFlags(unsigned codePage) {
    return codePage == 65000 || codePage == 65001 || codePage == 54936 || codePage == 42 ||
           (codePage >= 50220 && codePage <= 50229) || codePage == 52936 || (codePage >= 57002 && codePage <= 57011);
}

class Win32CharsetPlatform : public ICharsetPlatform {
public:
    unsigned AnsiCodePage() const override { return GetACP(); }

    unsigned CodePageFromName(std::wstring_view name) const override {
        const unsigned codePage = LookUpCharsetName(kNames, name);
        // A code page the system does not have installed counts as unknown.
        return codePage != 0 && IsValidCodePage(codePage) ? codePage : 0;
    }

    std::string Encode(unsigned codePage, std::wstring_view text) const override {
        if (text.empty() || text.size() > INT_MAX)
            return {};
        // No best-fit mapping: a character the code page lacks becomes its default character instead of
        // a look-alike ("e" for "é" in US-ASCII).
        DWORD flags = TakesNoFlags(codePage) ? 0 : WC_NO_BEST_FIT_CHARS;
        const int length = static_cast<int>(text.size());
        int size = WideCharToMultiByte(codePage, flags, text.data(), length, nullptr, 0, nullptr, nullptr);
        if (size <= 0 && flags != 0) {
            flags = 0;
            size = WideCharToMultiByte(codePage, flags, text.data(), length, nullptr, 0, nullptr, nullptr);
        }
        if (size <= 0)
            return {};
        std::string bytes(static_cast<std::size_t>(size), '\0');
        size = WideCharToMultiByte(codePage, flags, text.data(), length, bytes.data(), size, nullptr, nullptr);
        bytes.resize(size > 0 ? static_cast<std::size_t>(size) : 0);
        return bytes;
    }

    std::wstring Decode(unsigned codePage, std::string_view bytes) const override {
        if (bytes.empty() || bytes.size() > INT_MAX)
            return {};
        const int length = static_cast<int>(bytes.size());
        int size = MultiByteToWideChar(codePage, 0, bytes.data(), length, nullptr, 0);
        if (size <= 0)
            return {};
        std::wstring text(static_cast<std::size_t>(size), L'\0');
        size = MultiByteToWideChar(codePage, 0, bytes.data(), length, text.data(), size);
        text.resize(size > 0 ? static_cast<std::size_t>(size) : 0);
        return text;
    }
};

}  // namespace

const ICharsetPlatform& CharsetPlatform() {
    static const Win32CharsetPlatform platform;
    return platform;
}

}  // namespace memoline
