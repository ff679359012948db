// Answers to 401 and 407 challenges: Negotiate and NTLM through the system's security packages
// (where they exist), Basic from a user name and password. Digest is not offered.
#pragma once

#include <memory>
#include <string>

#include "http/HeaderFieldList.h"

namespace memoline {

// The challenge line whose first token is `scheme` (in any case), or nullptr. Only the first token
// names the scheme: `Basic realm="ntlm"` is a Basic challenge.
const std::wstring* FindChallenge(const TnetStringList& challenges, const wchar_t* scheme);

class TnetHttpAuthenticator {
public:
    TnetHttpAuthenticator();
    ~TnetHttpAuthenticator();
    TnetHttpAuthenticator(const TnetHttpAuthenticator&) = delete;
    TnetHttpAuthenticator& operator=(const TnetHttpAuthenticator&) = delete;

    // The value of the "Authorization" (or "Proxy-Authorization") line that answers `challenges`, or
    // empty when no scheme can answer. Schemes are tried as Negotiate, NTLM, then Basic; each answers
    // only a challenge line that names it. Basic needs a user name or a password. `host` names the
    // service for the security packages. `needFreshConnection` is set when the scheme's exchange must
    // run on a connection of its own.
    std::wstring Answer(const TnetStringList& challenges,
                        const std::wstring& userName,
                        const std::wstring& password,
                        const std::wstring& host,
                        bool& needFreshConnection);

private:
    struct SspiSession;
    std::unique_ptr<SspiSession> session_;
};

// "Basic " and the Base64 of user name, ":" and password, in the system's ANSI code page.
std::wstring BasicAuthorization(const std::wstring& userName, const std::wstring& password);

}  // namespace memoline
