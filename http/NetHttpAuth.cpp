#include "http/NetHttpAuth.h"

#define SECURITY_WIN32
#include <windows.h>
#include <security.h>

#include <cwctype>
#include <vector>

#include "http/Base64.h"
#include "http/Charset.h"

namespace memoline {
namespace {

std::wstring Lower(std::wstring s) {
    for (auto& c : s)
        c = static_cast<wchar_t>(std::towlower(c));
    return s;
}

// The challenge line that names the scheme, or nullptr.
const std::wstring* FindChallenge(const TnetStringList& challenges, const wchar_t* scheme) {
    const std::wstring lowerScheme = Lower(scheme);
    for (const auto& c : challenges) {
        if (Lower(c).find(lowerScheme) != std::wstring::npos)
            return &c;
    }
    return nullptr;
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text)
        out += static_cast<char>(c < 0x80 ? c : '?');
    return out;
}

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

// The security functions, loaded on the first authentication: an import of secur32.dll would set up
// every security package at each start of the program (under Wine that loads Kerberos and looks for
// an NTLM helper), for a conversation the updater hardly ever has. Null when they cannot be loaded.
const SecurityFunctionTableW* Sspi() {
    static const SecurityFunctionTableW* const table = []() -> const SecurityFunctionTableW* {
        HMODULE module = LoadLibraryW(L"secur32.dll");
        if (!module)
            return nullptr;
        auto init = reinterpret_cast<INIT_SECURITY_INTERFACE_W>(
            reinterpret_cast<void*>(GetProcAddress(module, "InitSecurityInterfaceW")));
        return init ? init() : nullptr;
    }();
    return table;
}

}  // namespace

std::wstring BasicAuthorization(const std::wstring& userName, const std::wstring& password) {
    return L"Basic " + Widen(Base64Encode(CharsetEncode(userName + L":" + password, L"")));
}

// One Negotiate or NTLM conversation: its credentials and context live across the passes of a request.
struct TnetHttpAuthenticator::SspiSession {
    std::wstring package;
    CredHandle credentials{};
    CtxtHandle context{};
    bool haveCredentials = false;
    bool haveContext = false;

    ~SspiSession() {
        if (haveContext)
            Sspi()->DeleteSecurityContext(&context);
        if (haveCredentials)
            Sspi()->FreeCredentialsHandle(&credentials);
    }

    bool Acquire(const std::wstring& userName, const std::wstring& password) {
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
        identity.Flags = SEC_WINNT_AUTH_IDENTITY_UNICODE;
        // Without a user name the logged-on user's credentials are used.
        void* authData = userName.empty() ? nullptr : &identity;
        TimeStamp expiry;
        const SecurityFunctionTableW* sspi = Sspi();
        if (!sspi)
            return false;
        const SECURITY_STATUS status =
            sspi->AcquireCredentialsHandleW(nullptr, package.data(), SECPKG_CRED_OUTBOUND, nullptr, authData,
                                            nullptr, nullptr, &credentials, &expiry);
        haveCredentials = status == SEC_E_OK;
        return haveCredentials;
    }

    // The next token for the server, or empty when the package cannot go on.
    std::string Step(const std::string& input, const std::wstring& host) {
        std::wstring target = L"HTTP/" + host;
        SecBuffer inBuffer{static_cast<unsigned long>(input.size()), SECBUFFER_TOKEN,
                           const_cast<char*>(input.data())};
        SecBufferDesc inDesc{SECBUFFER_VERSION, 1, &inBuffer};
        SecBuffer outBuffer{0, SECBUFFER_TOKEN, nullptr};
        SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &outBuffer};
        unsigned long attributes = 0;
        TimeStamp expiry;
        // The provider allocates the output token; connection semantics as HTTP needs them.
        const unsigned long flags = ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_CONNECTION;
        const SECURITY_STATUS status = Sspi()->InitializeSecurityContextW(
            &credentials, haveContext ? &context : nullptr, target.data(), flags, 0, SECURITY_NATIVE_DREP,
            input.empty() ? nullptr : &inDesc, 0, &context, &outDesc, &attributes, &expiry);
        if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED && status != SEC_I_COMPLETE_NEEDED &&
            status != SEC_I_COMPLETE_AND_CONTINUE)
            return {};
        haveContext = true;
        std::string token;
        if (outBuffer.pvBuffer) {
            token.assign(static_cast<const char*>(outBuffer.pvBuffer), outBuffer.cbBuffer);
            Sspi()->FreeContextBuffer(outBuffer.pvBuffer);
        }
        return token;
    }
};

TnetHttpAuthenticator::TnetHttpAuthenticator() = default;
TnetHttpAuthenticator::~TnetHttpAuthenticator() = default;

std::wstring TnetHttpAuthenticator::Answer(const TnetStringList& challenges, const std::wstring& userName,
                                           const std::wstring& password, const std::wstring& host,
                                           bool& needFreshConnection) {
    needFreshConnection = false;
    for (const wchar_t* package : {L"Negotiate", L"NTLM"}) {
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
        const bool starting = !session_ || session_->package != package || input.empty();
        if (starting) {
            session_ = std::make_unique<SspiSession>();
            session_->package = package;
            if (!session_->Acquire(userName, password)) {
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
