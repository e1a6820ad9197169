#include "platform/win32/win32_file_security.h"

#include <aclapi.h>
#include <sddl.h>

#include "platform/text.h"
#include "platform/win32/error_text.h"
#include "platform/win32/unique_handle.h"

namespace kestrix::win32 {

namespace {

// TrustedInstaller's service SID, the same on every Windows.
constexpr wchar_t kTrustedInstaller[] =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

std::wstring SidText(PSID sid) {
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) {
        return L"?";
    }
    const UniqueLocalMemory owner(text);
    return text;
}

Principal PrincipalOf(PSID sid) {
    if (IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) {
        return Principal::Administrators;
    }
    if (IsWellKnownSid(sid, WinLocalSystemSid)) {
        return Principal::System;
    }
    return SidText(sid) == kTrustedInstaller ? Principal::TrustedInstaller : Principal::Other;
}

// "DOMAIN\name", or the SID's text when it has no name.
std::wstring NameOf(PSID sid) {
    wchar_t name[256] = {};
    wchar_t domain[256] = {};
    DWORD nameLength = 256;
    DWORD domainLength = 256;
    SID_NAME_USE use{};
    if (!LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use)) {
        return SidText(sid);
    }
    return domainLength == 0 || domain[0] == L'\0' ? std::wstring(name)
                                                   : std::wstring(domain) + L"\\" + name;
}

// An entry that lets someone do something: one of the standard layout (a mask, then the SID),
// or, counted as letting everything, any other kind that allows.
AccessEntry EntryOf(const ACE_HEADER* header) {
    AccessEntry entry;
    entry.inheritOnly = (header->AceFlags & INHERIT_ONLY_ACE) != 0;
    switch (header->AceType) {
        case ACCESS_DENIED_ACE_TYPE:
        case ACCESS_DENIED_CALLBACK_ACE_TYPE:
        case ACCESS_DENIED_OBJECT_ACE_TYPE:
        case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE:
            entry.allows = false;
            return entry;
        case ACCESS_ALLOWED_ACE_TYPE:
        case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {
            const auto* allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
            auto* sid = const_cast<DWORD*>(&allowed->SidStart);
            entry.who = PrincipalOf(sid);
            entry.name = NameOf(sid);
            entry.rights = allowed->Mask;
            return entry;
        }
        default:
            entry.name = L"（类型 " + DecimalText(header->AceType) + L" 的访问控制项）";
            entry.rights = GENERIC_ALL;
            return entry;
    }
}

}  // namespace

Ownership OwnershipOf(HANDLE handle) {
    Ownership ownership;
    DWORD flags = 0;
    if (!GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) ||
        (flags & FILE_PERSISTENT_ACLS) == 0) {
        return ownership;
    }
    PSID owner = nullptr;
    PACL access = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &access, nullptr, &descriptor) != ERROR_SUCCESS) {
        // Kept, but unreadable: nobody known owns it.
        ownership.kept = true;
        ownership.ownerName = L"未知（无法读取安全描述符）";
        ownership.access.emplace();
        return ownership;
    }
    const UniqueLocalMemory held(descriptor);
    ownership.kept = true;
    if (owner != nullptr) {
        ownership.owner = PrincipalOf(owner);
        ownership.ownerName = NameOf(owner);
    }
    if (access != nullptr) {
        ownership.access.emplace();
        for (DWORD i = 0; i < access->AceCount; ++i) {
            void* header = nullptr;
            if (GetAce(access, i, &header)) {
                ownership.access->push_back(EntryOf(static_cast<const ACE_HEADER*>(header)));
            }
        }
    }
    return ownership;
}

FileResult CreateFolderForAdministrators(const std::wstring& path) {
    // Owner Administrators; the list protected from the parent's: administrators and SYSTEM all
    // rights, users read and list, each for the folder and what is made in it. Without the right
    // to give a group the ownership (an administrator's token that is not elevated), the owner is
    // the one the token gives.
    for (const wchar_t* text : {L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;FR;;;BU)",
                                L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;FR;;;BU)"}) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1,
                                                                  &descriptor, nullptr)) {
            return LastError();
        }
        const UniqueLocalMemory held(descriptor);
        SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
        if (CreateDirectoryW(path.c_str(), &attributes)) {
            return FileResult::Success();
        }
        if (GetLastError() != ERROR_INVALID_OWNER) {
            return LastError();
        }
    }
    return LastError();
}

}  // namespace kestrix::win32
