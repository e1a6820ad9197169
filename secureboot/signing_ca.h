#pragma once
// The certificate authorities that sign what UEFI firmware starts, told by their certificate's
// SHA-1 thumbprint (the SHA-1 of its DER bytes).
#include <string_view>

namespace kestrix {

enum class SigningCa {
    Other,
    // "Microsoft Windows Production PCA 2011": Windows' boot manager until the 2023 certificates.
    Pca2011,
    // "Windows UEFI CA 2023": the boot manager of \Windows\Boot\EFI_EX.
    WindowsUefiCa2023,
    // "Microsoft Corporation UEFI CA 2011" and "Microsoft UEFI CA 2023": other vendors' loaders.
    MicrosoftUefiCa2011,
    MicrosoftUefiCa2023,
};

// The CA whose certificate has this thumbprint (20 bytes); Other for any other.
SigningCa CaOfThumbprint(std::string_view thumbprint);

// The CA that issued a signing certificate: by the issuing certificate's thumbprint when it is
// known (a certificate that only bears a known name is Other), else by the issuer's common name.
SigningCa ClassifyIssuer(std::wstring_view issuer, std::string_view issuerThumbprint);

}  // namespace kestrix
