#pragma once
// Decodes a registry hive file ("regf"), read only: its base block, then from the root key every
// key node with its values, following the hive's cell offsets. Every offset and length is checked
// against the hive's bins, and the walk is bounded (depth, count of keys, values and value bytes,
// no key visited twice), so hostile bytes cost little and never crash.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/key_tree.h"

namespace kestrix {

struct HiveValue {
    std::wstring name;  // empty for the key's default value
    KeyValue value;

    bool operator==(const HiveValue&) const = default;
};

struct HiveKey {
    std::wstring name;
    std::vector<HiveValue> values;
    // Indexes into Hive::keys, in the order of the key's subkey index.
    std::vector<std::size_t> subkeys;

    bool operator==(const HiveKey&) const = default;
};

struct Hive {
    // keys[0] is the root key.
    std::vector<HiveKey> keys;
    // The base block's two sequence numbers differ: the hive was not written to its end, and its
    // newest changes are in the .LOG files beside it.
    bool dirty = false;
};

// Limits of the walk: a boot store holds some hundred keys.
inline constexpr std::size_t kHiveMaxDepth = 64;
inline constexpr std::size_t kHiveMaxKeys = 1u << 16;
inline constexpr std::size_t kHiveMaxValues = 1u << 18;
inline constexpr std::size_t kHiveMaxValueBytes = 1u << 26;

// Nothing when the bytes are not a primary hive file (signature, version, type), or an offset,
// length or signature in it does not hold up, or a limit is passed.
std::optional<Hive> DecodeHive(std::string_view bytes);

// A decoded hive read by path; the root key is the tree's root.
class HiveTree final : public KeyTree {
  public:
    explicit HiveTree(Hive hive) : hive_(std::move(hive)) {}

    std::optional<std::vector<std::wstring>> Subkeys(const KeyPath& path) const override;
    std::optional<KeyValue> Value(const KeyPath& path, const std::wstring& name) const override;
    const Hive& Decoded() const { return hive_; }

  private:
    const HiveKey* Find(const KeyPath& path) const;

    Hive hive_;
};

}  // namespace kestrix
