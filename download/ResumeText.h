// Text pieces of a download that resumes after a dropped connection: the validator that binds a
// Range request to the version of the file already half received, the request lines that ask for the
// rest, and the "Content-Range" answer. Text only, so they build and are tested in the host lane too.
#pragma once

#include <cstdint>
#include <string>

namespace memoline::download {

// The value for "If-Range": the entity tag when it is a strong one, else the "Last-Modified" date,
// else empty. A weak tag ("W/...") may not be used there: a server compares If-Range strongly.
std::wstring ResumeValidator(const std::wstring& etag, const std::wstring& lastModified);

// The extra request lines (each ending in CR LF) that ask for the bytes from `offset` on, but only
// of the version named by `validator`; empty when there is no validator or nothing to skip, so the
// whole file is asked for again.
std::wstring ResumeRequestLines(uint64_t offset, const std::wstring& validator);

// The range of a "Content-Range: bytes FIRST-LAST/LENGTH" value ("*" allowed as LENGTH). False for
// anything else, a unit other than bytes or LAST below FIRST.
bool ParseContentRange(const std::wstring& value, uint64_t& first, uint64_t& last);

}  // namespace memoline::download
