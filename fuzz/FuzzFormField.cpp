// A form field of any text through the form encoding, in the ANSI code page and in UTF-8: the request
// must always come out with a header and a body size.
#include <cstdlib>
#include <string>

#include "http/Charset.h"
#include "http/HttpRequest.h"

using namespace memoline;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::wstring text = CharsetDecode(bytes, L"utf-8");
    TnetHttpRequest request;
    request.AddFormField(text, text);
    if (request.TotalSize() < 1)
        std::abort();
    request.Header().SetCharSet(L"utf-8");
    if (request.TotalSize() < 1 || request.HeaderSource().empty())
        std::abort();
    return 0;
}
