#include "secureboot/boot_manager_signers.h"

#include "platform/text.h"
#include "secureboot/authenticode.h"
#include "secureboot/pe_certificates.h"

namespace kestrix {

namespace {

// "证书 …，文件哈希 N 个", or "无法读取".
std::wstring DatabaseText(const std::optional<std::vector<SignatureEntry>>& database) {
    if (!database) {
        return L"无法读取";
    }
    std::wstring names;
    long long hashes = 0;
    for (const auto& entry : *database) {
        if (entry.kind == SignatureKind::X509) {
            const auto certificate = DecodeCertificate(entry.data);
            const auto name = certificate ? CommonNameOf(certificate->subject) : std::wstring();
            names += (names.empty() ? L"" : L"；") + (name.empty() ? L"?" : name);
        } else {
            ++hashes;
        }
    }
    return L"证书 " + (names.empty() ? L"无" : names) + L"，哈希 " + DecimalText(hashes) + L" 个";
}

}  // namespace

std::vector<std::wstring> TrustLines(const FirmwareTrust& trust) {
    return {std::wstring(L"安全启动（Secure Boot）：") +
                (trust.secureBoot == SecureBoot::On    ? L"开启"
                 : trust.secureBoot == SecureBoot::Off ? L"关闭"
                                                       : L"未知"),
            L"  固件 db：" + DatabaseText(trust.databases.db),
            L"  固件 dbx：" + DatabaseText(trust.databases.dbx)};
}

std::optional<std::vector<Signer>> SignersOf(std::string_view pe) {
    const auto table = ReadCertificateTable(pe);
    if (!table) {
        return std::nullopt;
    }
    std::vector<Signer> signers;
    for (const auto bytes : table->signatures) {
        const auto signature = DecodeAuthenticode(bytes);
        if (!signature) {
            continue;
        }
        Signer signer{{}, CommonNameOf(signature->signerIssuer)};
        for (const auto& certificate : signature->certificates) {
            if (certificate.issuer == signature->signerIssuer &&
                certificate.serial == signature->signerSerial) {
                signer.subject = CommonNameOf(certificate.subject);
            }
        }
        signers.push_back(std::move(signer));
    }
    return signers;
}

std::wstring SignersText(const std::vector<Signer>& signers) {
    if (signers.empty()) {
        return L"无签名";
    }
    std::wstring text;
    for (const auto& signer : signers) {
        text += (text.empty() ? L"" : L"；") + (signer.subject.empty() ? L"?" : signer.subject) +
                L"（" + (signer.issuer.empty() ? L"?" : signer.issuer) + L" 颁发）";
    }
    return text;
}

std::wstring VerdictReasonText(const ImageVerdict& verdict) {
    switch (verdict.reason) {
        case VerdictReason::DbHash:
            return L"文件哈希在 db 中";
        case VerdictReason::DbCertificate:
            return L"db 中的证书 " + verdict.certificate;
        case VerdictReason::DbxHash:
            return L"文件哈希在 dbx 中";
        case VerdictReason::DbxCertificate:
            return L"签名证书已被 dbx 吊销（" + verdict.certificate + L"）";
        case VerdictReason::SignerNotInDb:
            return L"签名者不在 db 中";
        case VerdictReason::InvalidSignature:
            return L"签名无效或文件已被改动";
        case VerdictReason::Unsigned:
            return L"未签名";
        case VerdictReason::Unreadable:
            break;
    }
    return L"读不到 db/dbx 或文件";
}

std::wstring VerdictText(const ImageVerdict& verdict) {
    const wchar_t* word = verdict.verdict == Verdict::Allowed   ? L"允许"
                          : verdict.verdict == Verdict::Refused ? L"拒绝"
                                                                : L"无法判断";
    return word + (L"（" + VerdictReasonText(verdict) + L"）");
}

}  // namespace kestrix
