#include "tests/support/SignedSetups.h"

#include <stdexcept>

#include "tests/support/TestFiles.h"

namespace memoline::test {

std::string SetupBytes(SetupVariant variant) {
    const wchar_t* file = L"demo_setup_5_10_0-signed.exe";
    if (variant == SetupVariant::Unsigned)
        file = L"demo_setup_5_10_0.exe";
    else if (variant == SetupVariant::OtherPublisher)
        file = L"demo_setup_5_10_0-signed-other.exe";
    else if (variant == SetupVariant::UntrustedCa)
        file = L"demo_setup_5_10_0-signed-untrusted.exe";
    else if (variant == SetupVariant::UntrustedLeafOnly)
        file = L"demo_setup_5_10_0-signed-untrusted-leaf.exe";
    else if (variant == SetupVariant::ServerCertificate)
        file = L"demo_setup_5_10_0-signed-serveronly.exe";
    std::string bytes = ReadFileRaw(BinDir() + file);
    if (bytes.empty())
        throw std::runtime_error("a setup program of the build is missing");
    if (variant == SetupVariant::ChangedAfterSigning)
        bytes[bytes.size() / 2] ^= 0x01;  // inside the program's code and data, which the digest covers
    if (variant == SetupVariant::CutShort)
        bytes.resize(bytes.size() / 2);
    return bytes;
}

}  // namespace memoline::test
