#pragma once
#include "platform/key_tree.h"

namespace kestrix::win32 {

// The boot store that the running Windows has loaded, HKLM\BCD00000000, read through the
// registry with read access only: the store file itself is held open by Windows.
class Win32HeldStore final : public KeyTree {
  public:
    std::optional<std::vector<std::wstring>> Subkeys(const KeyPath& path) const override;
    std::optional<KeyValue> Value(const KeyPath& path, const std::wstring& name) const override;
};

}  // namespace kestrix::win32
