// The signature check against program files signed at build time with osslsigncode: the test CA is
// trusted in this Wine prefix (fixture tls_trust), the CA of the "untrusted" certificate is not.
#include <gtest/gtest.h>

#include <cstdio>

#include "core/Handles.h"
#include "system/AuthenticodeCheck.h"
#include "tests/support/SignedSetups.h"
#include "tests/support/TestFiles.h"

namespace memoline {
namespace {

using test::SetupVariant;

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

TSignatureCheck CheckFile(const std::wstring& path, const std::wstring& signer) {
    unique_file file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(file) << "cannot open " << Narrow(path);
    return VerifyAuthenticode(file.get(), path, signer);
}

TEST(AuthenticodeCheck, AcceptsOnlyAnUnchangedProgramSignedByTheExpectedPublisherThroughATrustedRoot) {
    const std::wstring signer = L"" MEMOLINE_TEST_SIGNER;
    struct Case {
        const char* name;
        SetupVariant variant;
        TSignatureVerdict verdict;
        const wchar_t* signerFound;  // null: none read
        HRESULT code;                // the failing code, from WinVerifyTrust or else from the chain
    } cases[] = {
        {"signed", SetupVariant::Signed, TSignatureVerdict::svVerified, signer.c_str(), S_OK},
        {"unsigned", SetupVariant::Unsigned, TSignatureVerdict::svNotSigned, nullptr, TRUST_E_NOSIGNATURE},
        {"changed after signing", SetupVariant::ChangedAfterSigning, TSignatureVerdict::svChanged, nullptr,
         TRUST_E_BAD_DIGEST},
        {"another publisher", SetupVariant::OtherPublisher, TSignatureVerdict::svOtherPublisher, L"Another Publisher",
         S_OK},
        {"untrusted CA", SetupVariant::UntrustedCa, TSignatureVerdict::svNotTrusted, signer.c_str(),
         CERT_E_UNTRUSTEDROOT},
        // A partial chain, with no path to any root.
        {"untrusted, leaf only", SetupVariant::UntrustedLeafOnly, TSignatureVerdict::svNotTrusted, signer.c_str(),
         CERT_E_CHAINING},
        // Wine's WinVerifyTrust passes it; the chain built for code signing does not.
        {"not for code signing", SetupVariant::ServerCertificate, TSignatureVerdict::svNotTrusted, signer.c_str(),
         CERT_E_WRONG_USAGE},
        {"cut short", SetupVariant::CutShort, TSignatureVerdict::svNotSigned, nullptr, TRUST_E_NOSIGNATURE},
    };
    test::ScratchDir dir(L"authenticode");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring path = dir / L"Setup.exe";
        test::WriteFileRaw(path, test::SetupBytes(c.variant));
        const TSignatureCheck check = CheckFile(path, signer);
        // What the system said, for the record.
        std::printf("%-22s WinVerifyTrust 0x%08lX  chain status 0x%08lX  chain verdict 0x%08lX  signer \"%s\"  %s\n",
                    c.name, static_cast<unsigned long>(check.TrustStatus),
                    static_cast<unsigned long>(check.ChainErrorStatus), static_cast<unsigned long>(check.ChainStatus),
                    Narrow(check.Signer).c_str(), Narrow(check.StatusText).c_str());
        EXPECT_EQ(static_cast<int>(check.Verdict), static_cast<int>(c.verdict));
        EXPECT_EQ(check.Passed(), c.verdict == TSignatureVerdict::svVerified);
        EXPECT_EQ(Narrow(check.Signer), c.signerFound ? Narrow(c.signerFound) : "");
        EXPECT_EQ(check.StatusText.empty(), check.Passed() || c.verdict == TSignatureVerdict::svOtherPublisher);
        const LONG code = check.TrustStatus != 0 ? check.TrustStatus : check.ChainStatus;
        EXPECT_EQ(static_cast<unsigned long>(code), static_cast<unsigned long>(c.code));
    }
}

// Off the thread the verdicts are the same, and a quit request that comes meanwhile waits for the
// verdict instead of cutting the check short (a cut check would count as not checked).
TEST(AuthenticodeCheck, OffTheThreadTheVerdictIsTheSameAndAQuitWaitsForIt) {
    const std::wstring signer = L"" MEMOLINE_TEST_SIGNER;
    test::ScratchDir dir(L"authenticode-worker");
    for (SetupVariant variant : {SetupVariant::Signed, SetupVariant::ChangedAfterSigning, SetupVariant::UntrustedCa}) {
        SCOPED_TRACE(static_cast<int>(variant));
        const std::wstring path = dir / L"Setup.exe";
        test::WriteFileRaw(path, test::SetupBytes(variant));
        const TSignatureCheck here = CheckFile(path, signer);
        unique_file file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file);
        PostQuitMessage(6);
        const TSignatureCheck off = VerifyAuthenticodeOffThread(file.get(), path, signer);
        EXPECT_EQ(static_cast<int>(off.Verdict), static_cast<int>(here.Verdict));
        EXPECT_EQ(off.TrustStatus, here.TrustStatus);
        EXPECT_EQ(off.ChainStatus, here.ChainStatus);
        EXPECT_EQ(Narrow(off.Signer), Narrow(here.Signer));
        MSG quit;
        ASSERT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the quit request was lost";
        EXPECT_EQ(quit.wParam, 6u);
    }
}

// Signed at the TLS peers' start by signers whose certificates name a CRL: served by the peers and
// listing the signer as revoked, or on a port where nobody listens.
TEST(AuthenticodeCheck, ARevokedSignerIsRefusedAndOneWhoseCrlCannotBeReachedPasses) {
    const std::wstring signer = L"" MEMOLINE_TEST_SIGNER;
    const std::string peerDir = MEMOLINE_TLS_PEER_DIR;
    struct {
        const char* file;
        TSignatureVerdict verdict;
        HRESULT code;
        HRESULT unchecked;
    } cases[] = {
        {"setup-revoked.exe", TSignatureVerdict::svNotTrusted, CRYPT_E_REVOKED, S_OK},
        {"setup-crl-offline.exe", TSignatureVerdict::svVerified, S_OK, CRYPT_E_REVOCATION_OFFLINE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = peerDir + "/" + c.file;
        const TSignatureCheck check = CheckFile(std::wstring(path.begin(), path.end()), signer);
        EXPECT_EQ(static_cast<int>(check.Verdict), static_cast<int>(c.verdict));
        EXPECT_EQ(static_cast<unsigned long>(check.TrustStatus), 0ul);
        EXPECT_EQ(static_cast<unsigned long>(check.ChainStatus), static_cast<unsigned long>(c.code));
        EXPECT_EQ(static_cast<unsigned long>(check.UncheckedRevocation), static_cast<unsigned long>(c.unchecked));
        EXPECT_EQ(Narrow(check.StatusText), c.code == S_OK ? "" : Narrow(TrustErrorText(static_cast<LONG>(c.code))));
    }
}

TEST(AuthenticodeCheck, ThePublisherMustMatchExactly) {
    test::ScratchDir dir(L"authenticode-name");
    const std::wstring path = dir / L"Setup.exe";
    test::WriteFileRaw(path, test::SetupBytes(SetupVariant::Signed));
    const std::wstring signer = L"" MEMOLINE_TEST_SIGNER;
    for (const std::wstring& expected : {signer + L" ", signer.substr(1), std::wstring(L"")}) {
        const TSignatureCheck check = CheckFile(path, expected);
        EXPECT_EQ(static_cast<int>(check.Verdict), static_cast<int>(TSignatureVerdict::svOtherPublisher))
            << Narrow(expected);
        EXPECT_EQ(Narrow(check.Signer), Narrow(signer));
    }
}

TEST(AuthenticodeCheck, TrustErrorTextHasATextForEveryCodeItReports) {
    for (HRESULT code : {TRUST_E_NOSIGNATURE, TRUST_E_BAD_DIGEST, CERT_E_UNTRUSTEDROOT, CERT_E_CHAINING, CERT_E_EXPIRED,
                         CERT_E_WRONG_USAGE}) {
        const std::wstring text = TrustErrorText(static_cast<LONG>(code));
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(text.find(L"Error 0x"), std::wstring::npos) << Narrow(text);
        EXPECT_NE(text.back(), L'\n');
    }
    EXPECT_EQ(Narrow(TrustErrorText(0x0BADC0DE)), "Error 0x0BADC0DE.");
}

}  // namespace
}  // namespace memoline
