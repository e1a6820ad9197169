#include "secureboot/signing_ca.h"

namespace kestrix {

namespace {

struct KnownCa {
    SigningCa ca;
    std::wstring_view name;
    std::string_view thumbprint;
};

constexpr KnownCa kKnownCas[] = {
    {SigningCa::Pca2011, L"Microsoft Windows Production PCA 2011",
     "\x58\x0A\x6F\x4C\xC4\xE4\xB6\x69\xB9\xEB\xDC\x1B\x2B\x3E\x08\x7B\x80\xD0\x67\x8D"},
    {SigningCa::WindowsUefiCa2023, L"Windows UEFI CA 2023",
     "\x45\xA0\xFA\x32\x60\x47\x73\xC8\x24\x33\xC3\xB7\xD5\x9E\x74\x66\xB3\xAC\x0C\x67"},
    {SigningCa::MicrosoftUefiCa2011, L"Microsoft Corporation UEFI CA 2011",
     "\x46\xDE\xF6\x3B\x5C\xE6\x1C\xF8\xBA\x0D\xE2\xE6\x63\x9C\x10\x19\xD0\xED\x14\xF3"},
    {SigningCa::MicrosoftUefiCa2023, L"Microsoft UEFI CA 2023",
     "\xB5\xEE\xB4\xA6\x70\x60\x48\x07\x3F\x0E\xD2\x96\xE7\xF5\x80\xA7\x90\xB5\x9E\xAA"},
};
static_assert(
    [] {
        for (const auto& known : kKnownCas) {
            if (known.thumbprint.size() != 20) {
                return false;
            }
        }
        return true;
    }(),
    "a thumbprint is a SHA-1 digest");

}  // namespace

SigningCa CaOfThumbprint(std::string_view thumbprint) {
    for (const auto& known : kKnownCas) {
        if (thumbprint == known.thumbprint) {
            return known.ca;
        }
    }
    return SigningCa::Other;
}

SigningCa ClassifyIssuer(std::wstring_view issuer, std::string_view issuerThumbprint) {
    if (!issuerThumbprint.empty()) {
        return CaOfThumbprint(issuerThumbprint);
    }
    for (const auto& known : kKnownCas) {
        if (issuer == known.name) {
            return known.ca;
        }
    }
    return SigningCa::Other;
}

}  // namespace kestrix
