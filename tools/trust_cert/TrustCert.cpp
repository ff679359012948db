// memoline_trust_cert CERTFILE: adds a CA certificate (PEM or DER) to the machine's Root store, so
// test servers whose chains end in it are trusted by the next process that starts. Adding the same
// certificate again replaces it. Under Wine a Unix path ("/...") is read through drive Z:.
#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string ReadAll(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<BYTE> ToDer(const std::string& bytes) {
    if (bytes.find("-----BEGIN") == std::string::npos)
        return std::vector<BYTE>(bytes.begin(), bytes.end());
    DWORD size = 0;
    if (!CryptStringToBinaryA(bytes.c_str(), static_cast<DWORD>(bytes.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                              &size, nullptr, nullptr))
        return {};
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(bytes.c_str(), static_cast<DWORD>(bytes.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                              &size, nullptr, nullptr))
        return {};
    der.resize(size);
    return der;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        fwprintf(stderr, L"usage: memoline_trust_cert CERTFILE\n");
        return 2;
    }
    std::wstring path = argv[1];
    if (!path.empty() && path[0] == L'/')
        path = L"Z:" + path;  // Wine maps the Unix root to Z:
    std::vector<BYTE> der = ToDer(ReadAll(path));
    if (der.empty()) {
        fwprintf(stderr, L"cannot read a certificate from %ls\n", path.c_str());
        return 1;
    }
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (store == nullptr) {
        fwprintf(stderr, L"cannot open the machine Root store: %lu\n", GetLastError());
        return 1;
    }
    BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                                  CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    DWORD error = GetLastError();
    CertCloseStore(store, 0);
    if (!added) {
        fwprintf(stderr, L"cannot add the certificate: 0x%08lx\n", error);
        return 1;
    }
    return 0;
}
