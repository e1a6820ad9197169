#pragma once
// A tree of registry keys read by path, whichever way it is held: a hive file decoded in memory,
// or a hive that the running Windows has loaded, read through the registry. Nothing is written.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrix {

// The registry's value types that a boot store uses.
inline constexpr std::uint32_t kRegistryString = 1;
inline constexpr std::uint32_t kRegistryBinary = 3;
inline constexpr std::uint32_t kRegistryDword = 4;
inline constexpr std::uint32_t kRegistryMultiString = 7;

struct KeyValue {
    std::uint32_t type = 0;
    std::string data;

    bool operator==(const KeyValue&) const = default;
};

// One name per level below the tree's root key; names are matched without regard to case.
using KeyPath = std::vector<std::wstring>;

class KeyTree {
  public:
    virtual ~KeyTree() = default;
    // The names of the key's subkeys, in the tree's order; nothing when there is no such key.
    virtual std::optional<std::vector<std::wstring>> Subkeys(const KeyPath& path) const = 0;
    // The key's value of that name; nothing when the key or the value is missing.
    virtual std::optional<KeyValue> Value(const KeyPath& path, const std::wstring& name) const = 0;
};

}  // namespace kestrix
