#pragma once
// EFI binaries for the signature tables: Debian's signed ones as installed, and Debian's unsigned
// shim signed here with openssl, osslsigncode and sbsigntool under self-made CAs that bear the
// names of Microsoft's.
#include <gtest/gtest.h>

#include <string>

#include "secure_boot_data.h"

namespace kestrix::testing {

inline constexpr char kSignedShim[] = "/usr/lib/shim/shimx64.efi.signed";
inline constexpr char kUnsignedShim[] = "/usr/lib/shim/shimx64.efi";

struct MadeBinaries {
    // The self-made CAs named "Microsoft Windows Production PCA 2011" and "Windows UEFI CA 2023",
    // and the signer's certificate under the first ("Microsoft Windows"), DER.
    std::string pcaCa;
    std::string ca2023;
    std::string signer;
    // The unsigned shim signed by the signer, carrying its chain; carrying the signer's
    // certificate alone; with a SHA-1 image digest.
    std::string pcaSigned;
    std::string leafOnly;
    std::string sha1Signed;
    // Signed under the 2023 look-alike, then a second signature added under the PCA look-alike.
    std::string ca2023Signed;
    std::string twoSigned;
};

// Made once per run; empty strings when a tool is missing.
inline const MadeBinaries& Made() {
    static const MadeBinaries made = [] {
        const TempFolder folder;
        MadeBinaries m;
        const bool ok = RunIn(
            folder,
            "ca() { openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj \"/CN=$2\" "
            "-keyout $1.key -out $1.pem && openssl x509 -in $1.pem -outform DER -out $1.der; } && "
            "leaf() { openssl req -newkey rsa:2048 -nodes -subj '/CN=Microsoft Windows' "
            "-keyout $1.key -out $1.csr && openssl x509 -req -days 30 -in $1.csr -CA $2.pem "
            "-CAkey $2.key -set_serial 7 -out $1.pem && "
            "openssl x509 -in $1.pem -outform DER -out $1.der; } && "
            "ca pca 'Microsoft Windows Production PCA 2011' && ca ca23 'Windows UEFI CA 2023' && "
            "leaf signer pca && leaf signer23 ca23 && "
            "cat signer.pem pca.pem > chain.pem && cat signer23.pem ca23.pem > chain23.pem && "
            "osslsigncode sign -certs chain.pem -key signer.key -in " +
                std::string(kUnsignedShim) +
                " -out pca.efi && "
                "osslsigncode sign -certs signer.pem -key signer.key -in " +
                kUnsignedShim +
                " -out leaf.efi && "
                "osslsigncode sign -h sha1 -certs chain.pem -key signer.key -in " +
                kUnsignedShim +
                " -out sha1.efi && "
                "osslsigncode sign -certs chain23.pem -key signer23.key -in " +
                kUnsignedShim +
                " -out ca23.efi && "
                "sbsign --key signer.key --cert signer.pem --addcert pca.pem --output two.efi "
                "ca23.efi");
        if (!ok) {
            return m;
        }
        const auto read = [&](const char* name) { return ReadBytes(folder.path() / name); };
        m = {read("pca.der"),  read("ca23.der"), read("signer.der"), read("pca.efi"),
             read("leaf.efi"), read("sha1.efi"), read("ca23.efi"),   read("two.efi")};
        return m;
    }();
    return made;
}

}  // namespace kestrix::testing
