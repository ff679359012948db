// The demo's setup program (it installs 5.10.0), signed at build time by the test publisher through
// the test CA, and the variants a signature check must refuse.
#pragma once

#include <string>

namespace memoline::test {

enum class SetupVariant {
    Signed,               // by the test publisher, through the test CA
    Unsigned,             // the program as built
    ChangedAfterSigning,  // signed, then one byte in the middle of the program changed
    OtherPublisher,       // signed through the test CA by another publisher
    UntrustedCa,          // signed by the test publisher's name through a CA nobody trusts
    UntrustedLeafOnly,    // the same, the signature carrying the signer's certificate alone
    ServerCertificate,    // signed by the test publisher's name through the test CA, with a TLS server's
                          // certificate (not made for code signing)
    CutShort,             // the signed program's first half
};

// The bytes of that program file.
std::string SetupBytes(SetupVariant variant);

}  // namespace memoline::test
