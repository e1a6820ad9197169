#pragma once
#include <windows.h>

#include <string>

#include "platform/file_security.h"

namespace kestrix::win32 {

// Who owns what a handle (opened with READ_CONTROL) names and who may change it; not kept on a
// file system without owners.
Ownership OwnershipOf(HANDLE handle);

// Creates a folder owned by the Administrators group that only administrators and SYSTEM may
// change, with what is made in it; users may read it.
FileResult CreateFolderForAdministrators(const std::wstring& path);

}  // namespace kestrix::win32
