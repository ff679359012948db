// Answers to 401 and 407 challenges: Negotiate and NTLM through the system's security packages
// (where they exist), Basic from a user name and password. Digest is not offered.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "http/HeaderFieldList.h"

namespace memoline {

// The challenge line whose first token is `scheme` (in any case), or nullptr. Only the first token
// names the scheme: `Basic realm="ntlm"` is a Basic challenge.
const std::wstring* FindChallenge(const TnetStringList& challenges, const wchar_t* scheme);

// One Negotiate or NTLM conversation of a security package: the system's (SystemAuthConversation),
// or a stand-in.
class TnetAuthConversation {
public:
    virtual ~TnetAuthConversation() = default;
    // Takes the credentials for `package`: a user name ("DOMAIN\\user" or "user") and its password,
    // or, with an empty user name, the logged-on user's. False when the package cannot.
    virtual bool Acquire(const std::wstring& package, const std::wstring& userName, const std::wstring& password) = 0;
    // The next token for the server (`input` empty for the first), or empty when the package cannot
    // go on. `host` names the service.
    virtual std::string Step(const std::string& input, const std::wstring& host) = 0;
};

using TnetAuthConversationFactory = std::function<std::unique_ptr<TnetAuthConversation>()>;

// A conversation through the system's security support library.
std::unique_ptr<TnetAuthConversation> SystemAuthConversation();

class TnetHttpAuthenticator {
public:
    // Conversations come from `conversations`; the system's when it is empty.
    explicit TnetHttpAuthenticator(TnetAuthConversationFactory conversations = {});
    ~TnetHttpAuthenticator();
    TnetHttpAuthenticator(const TnetHttpAuthenticator&) = delete;
    TnetHttpAuthenticator& operator=(const TnetHttpAuthenticator&) = delete;

    // The value of the "Authorization" (or "Proxy-Authorization") line that answers `challenges`, or
    // empty when no scheme can answer. Schemes are tried as Negotiate, NTLM, then Basic; each answers
    // only a challenge line that names it. Basic needs a user name or a password. `host` names the
    // service for the security packages. Without a user name, Negotiate and NTLM answer with the
    // logged-on user's credentials, and only when `mayUseLogonCredentials`. `needFreshConnection` is
    // set when the scheme's exchange must run on a connection of its own.
    std::wstring Answer(const TnetStringList& challenges,
                        const std::wstring& userName,
                        const std::wstring& password,
                        const std::wstring& host,
                        bool mayUseLogonCredentials,
                        bool& needFreshConnection);

private:
    TnetAuthConversationFactory conversations_;
    std::wstring package_;  // of the conversation in progress
    std::unique_ptr<TnetAuthConversation> session_;
};

// "Basic " and the Base64 of user name, ":" and password, in the system's ANSI code page.
std::wstring BasicAuthorization(const std::wstring& userName, const std::wstring& password);

}  // namespace memoline
