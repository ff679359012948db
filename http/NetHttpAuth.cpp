#include "http/NetHttpAuth.h"

#include <vector>
#include "core/TextUtil.h"

#include "http/Base64.h"
#include "http/Charset.h"
#include "http/NetErrors.h"
#include "http/NetSspiApi.h"

namespace memoline {

const std::wstring* FindChallenge(const TnetStringList& challenges, const wchar_t* scheme) {
    const std::wstring lowerScheme = LowerAscii(scheme);
    for (const auto& c : challenges) {
        const size_t start = c.find_first_not_of(L" \t");
        if (start == std::wstring::npos)
            continue;
        const size_t end = c.find_first_of(L" \t,", start);
        if (LowerAscii(c.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start)) == lowerScheme)
            return &c;
    }
    return nullptr;
}

namespace {

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text)
        out += static_cast<char>(c < 0x80 ? c : '?');
    return out;
}

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

}  // namespace

std::wstring BasicAuthorization(const std::wstring& userName, const std::wstring& password) {
    return L"Basic " + Widen(Base64Encode(CharsetEncode(userName + L":" + password, L"")));
}

namespace {

// Its credentials and context live across the passes of a request.
class TnetSystemAuthConversation : public TnetAuthConversation {
public:
    bool Acquire(const std::wstring& package, const std::wstring& userName, const std::wstring& password) override {
        SEC_WINNT_AUTH_IDENTITY_W identity{};
        std::wstring user = userName, domain;
        const size_t slash = user.find(L'\\');
        if (slash != std::wstring::npos) {
            domain = user.substr(0, slash);
            user = user.substr(slash + 1);
        }
        std::wstring pass = password;
        identity.User = reinterpret_cast<unsigned short*>(user.data());
        identity.UserLength = static_cast<unsigned long>(user.size());
        identity.Domain = reinterpret_cast<unsigned short*>(domain.data());
        identity.DomainLength = static_cast<unsigned long>(domain.size());
        identity.Password = reinterpret_cast<unsigned short*>(pass.data());
        identity.PasswordLength = static_cast<unsigned long>(pass.size());
        // The identity says it is in UTF-16, whichever form of the call takes it.
        identity.Flags = SEC_WINNT_AUTH_IDENTITY_UNICODE;
        // Without a user name the logged-on user's credentials are used.
        void* authData = userName.empty() ? nullptr : &identity;
        try {
            return handles_.AcquireCredentials(Narrow(package).c_str(), authData) == SEC_E_OK;
        } catch (const EnetSSPIError&) {
            return false;  // no security library: this scheme does not answer
        }
    }

    std::string Step(const std::string& input, const std::wstring& host) override {
        const std::string target = "HTTP/" + Narrow(host);
        SecBuffer inBuffer{static_cast<unsigned long>(input.size()), SECBUFFER_TOKEN, const_cast<char*>(input.data())};
        SecBufferDesc inDesc{SECBUFFER_VERSION, 1, &inBuffer};
        SecBuffer outBuffer{0, SECBUFFER_TOKEN, nullptr};
        SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &outBuffer};
        ULONG attributes = 0;
        // The provider allocates the output token; connection semantics as HTTP needs them.
        const ULONG flags = ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_CONNECTION;
        const SECURITY_STATUS status = handles_.InitializeContext(
            target.c_str(), flags, SECURITY_NATIVE_DREP, input.empty() ? nullptr : &inDesc, &outDesc, attributes);
        std::string token = TakeSspiBuffer(outBuffer);
        if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED && status != SEC_I_COMPLETE_NEEDED &&
            status != SEC_I_COMPLETE_AND_CONTINUE)
            return {};
        return token;
    }

private:
    TnetSspiHandles handles_;
};

}  // namespace

std::unique_ptr<TnetAuthConversation> SystemAuthConversation() {
    return std::make_unique<TnetSystemAuthConversation>();
}

TnetHttpAuthenticator::TnetHttpAuthenticator(TnetAuthConversationFactory conversations)
    : conversations_(conversations ? std::move(conversations) : TnetAuthConversationFactory(SystemAuthConversation)) {}

TnetHttpAuthenticator::~TnetHttpAuthenticator() = default;

std::wstring TnetHttpAuthenticator::Answer(const TnetStringList& challenges,
                                           const std::wstring& userName,
                                           const std::wstring& password,
                                           const std::wstring& host,
                                           bool mayUseLogonCredentials,
                                           bool& needFreshConnection) {
    needFreshConnection = false;
    for (const wchar_t* package : {L"Negotiate", L"NTLM"}) {
        // The logged-on user's account goes only where the caller allows it.
        if (userName.empty() && !mayUseLogonCredentials)
            break;
        const std::wstring* challenge = FindChallenge(challenges, package);
        if (!challenge)
            continue;
        // The server's token, if any, follows the scheme name.
        std::string input;
        const size_t space = challenge->find(L' ');
        if (space != std::wstring::npos) {
            const auto decoded = Base64Decode(Narrow(challenge->substr(space + 1)));
            if (decoded)
                input = *decoded;
        }
        const bool starting = !session_ || package_ != package || input.empty();
        if (starting) {
            session_ = conversations_();
            package_ = package;
            if (!session_ || !session_->Acquire(package, userName, password)) {
                session_.reset();
                continue;
            }
            input.clear();
        }
        const std::string token = session_->Step(input, host);
        if (token.empty()) {
            session_.reset();
            continue;
        }
        // The conversation belongs to one connection: start it on a fresh one.
        needFreshConnection = starting;
        return std::wstring(package) + L" " + Widen(Base64Encode(token));
    }
    if (FindChallenge(challenges, L"Basic") && (!userName.empty() || !password.empty()))
        return BasicAuthorization(userName, password);
    return {};
}

}  // namespace memoline
