#include "store/hive.h"

#include "platform/bytes.h"
#include "platform/text.h"

namespace kestrix {

namespace {

constexpr std::size_t kBaseBlock = 4096;
// An offset that points nowhere (a key without subkeys or values).
constexpr std::uint32_t kNoCell = 0xFFFFFFFFu;
// A key node's fields: flags, counts and offsets of its subkey index and value list, name.
constexpr std::size_t kKeyHeader = 0x4C;
constexpr std::uint32_t kCompressedKeyName = 0x0020;
constexpr std::size_t kValueHeader = 0x14;
constexpr std::uint32_t kCompressedValueName = 0x0001;
// A value's data of up to 4 bytes is held in its data offset field.
constexpr std::uint32_t kDataInline = 0x80000000u;
// A segment of a big-data value ("db", hives of version 1.4 and later).
constexpr std::size_t kBigDataSegment = 16344;

// The hive's cells: offsets are counted from the first hive bin, right after the base block.
class Cells {
  public:
    Cells(std::string_view bins, std::uint32_t minor) : bins_(bins), minor_(minor) {}

    // The data of the allocated cell at offset; nothing when it leaves the bins or is free.
    std::optional<std::string_view> At(std::uint32_t offset) const {
        if (offset % 8 != 0 || offset > bins_.size() || bins_.size() - offset < 8) {
            return std::nullopt;
        }
        const auto size = static_cast<std::int32_t>(Le32(bins_, offset));
        if (size > -8) {
            return std::nullopt;
        }
        const auto length = static_cast<std::size_t>(-static_cast<std::int64_t>(size));
        if (length > bins_.size() - offset) {
            return std::nullopt;
        }
        return bins_.substr(offset + 4, length - 4);
    }

    // A cell that starts with the two-letter signature.
    std::optional<std::string_view> Signed(std::uint32_t offset, std::string_view signature) const {
        const auto cell = At(offset);
        if (!cell || cell->substr(0, 2) != signature) {
            return std::nullopt;
        }
        return cell;
    }

    // The key nodes a subkey index names, in order: "lf" and "lh" pairs of an offset and a hash,
    // "li" offsets alone, "ri" offsets of indexes of the other kinds.
    bool SubkeyOffsets(std::uint32_t offset, std::vector<std::uint32_t>& out, bool nested) const {
        const auto cell = At(offset);
        if (!cell || cell->size() < 4) {
            return false;
        }
        const auto signature = cell->substr(0, 2);
        const std::size_t count = Le16(*cell, 2);
        const bool pairs = signature == "lf" || signature == "lh";
        const bool root = signature == "ri";
        if (!pairs && !root && signature != "li") {
            return false;
        }
        const std::size_t step = pairs ? 8 : 4;
        if (count > (cell->size() - 4) / step || (root && nested)) {
            return false;
        }
        for (std::size_t i = 0; i < count; ++i) {
            const auto at = Le32(*cell, 4 + i * step);
            if (!root) {
                out.push_back(at);
            } else if (!SubkeyOffsets(at, out, true)) {
                return false;
            }
        }
        return out.size() <= kHiveMaxKeys;
    }

    std::optional<std::string> Data(std::uint32_t size, std::uint32_t offset) const {
        if ((size & kDataInline) != 0) {
            const std::size_t length = size & ~kDataInline;
            if (length > 4) {
                return std::nullopt;
            }
            const char field[4] = {static_cast<char>(offset), static_cast<char>(offset >> 8),
                                   static_cast<char>(offset >> 16),
                                   static_cast<char>(offset >> 24)};
            return std::string(field, length);
        }
        if (size == 0) {
            return std::string();
        }
        const auto cell = At(offset);
        if (!cell) {
            return std::nullopt;
        }
        if (minor_ >= 4 && size > kBigDataSegment && cell->substr(0, 2) == "db") {
            return BigData(*cell, size);
        }
        if (size > cell->size()) {
            return std::nullopt;
        }
        return std::string(cell->substr(0, size));
    }

  private:
    // The segments of a "db" cell, each a cell of up to 16344 bytes, joined to the value's size.
    std::optional<std::string> BigData(std::string_view cell, std::uint32_t size) const {
        if (cell.size() < 8) {
            return std::nullopt;
        }
        const std::size_t count = Le16(cell, 2);
        const auto list = At(Le32(cell, 4));
        if (!list || count > list->size() / 4 || count * kBigDataSegment < size) {
            return std::nullopt;
        }
        std::string data;
        for (std::size_t i = 0; i < count && data.size() < size; ++i) {
            const auto segment = At(Le32(*list, i * 4));
            const std::size_t wanted = std::min<std::size_t>(kBigDataSegment, size - data.size());
            if (!segment || segment->size() < wanted) {
                return std::nullopt;
            }
            data += segment->substr(0, wanted);
        }
        return data;
    }

    std::string_view bins_;
    std::uint32_t minor_;
};

std::wstring Name(std::string_view bytes, bool compressed) {
    std::wstring name;
    if (compressed) {
        for (const char c : bytes) {
            name += static_cast<wchar_t>(static_cast<unsigned char>(c));
        }
        return name;
    }
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        name += static_cast<wchar_t>(Le16(bytes, i));
    }
    return name;
}

// A key node's name, value list and subkey index, checked; the subkeys are left to the walk.
struct KeyNode {
    HiveKey key;
    std::vector<std::uint32_t> subkeys;
};

std::optional<KeyNode> ReadKey(const Cells& cells, std::uint32_t offset, std::size_t& values,
                               std::size_t& valueBytes) {
    const auto cell = cells.Signed(offset, "nk");
    if (!cell || cell->size() < kKeyHeader) {
        return std::nullopt;
    }
    const std::size_t nameLength = Le16(*cell, 0x48);
    if (nameLength > cell->size() - kKeyHeader) {
        return std::nullopt;
    }
    KeyNode node;
    node.key.name =
        Name(cell->substr(kKeyHeader, nameLength), (Le16(*cell, 2) & kCompressedKeyName) != 0);
    const std::size_t subkeyCount = Le32(*cell, 0x14);
    if (subkeyCount != 0 && (!cells.SubkeyOffsets(Le32(*cell, 0x1C), node.subkeys, false) ||
                             node.subkeys.size() != subkeyCount)) {
        return std::nullopt;
    }
    const std::size_t valueCount = Le32(*cell, 0x24);
    if (valueCount == 0) {
        return node;
    }
    const auto list = cells.At(Le32(*cell, 0x28));
    if (!list || valueCount > list->size() / 4 || valueCount > kHiveMaxValues - values) {
        return std::nullopt;
    }
    values += valueCount;
    for (std::size_t i = 0; i < valueCount; ++i) {
        const auto vk = cells.Signed(Le32(*list, i * 4), "vk");
        if (!vk || vk->size() < kValueHeader || Le16(*vk, 2) > vk->size() - kValueHeader) {
            return std::nullopt;
        }
        auto data = cells.Data(Le32(*vk, 4), Le32(*vk, 8));
        if (!data || data->size() > kHiveMaxValueBytes - valueBytes) {
            return std::nullopt;
        }
        valueBytes += data->size();
        node.key.values.push_back({Name(vk->substr(kValueHeader, Le16(*vk, 2)),
                                        (Le16(*vk, 0x10) & kCompressedValueName) != 0),
                                   {Le32(*vk, 0x0C), std::move(*data)}});
    }
    return node;
}

}  // namespace

std::optional<Hive> DecodeHive(std::string_view bytes) {
    // The base block: signature, sequence numbers, version 1.x, a primary file in the direct
    // memory load format, the root key's cell and the length of the hive bins after it.
    if (bytes.size() < kBaseBlock || bytes.substr(0, 4) != "regf" || Le32(bytes, 20) != 1 ||
        Le32(bytes, 24) > 6 || Le32(bytes, 28) != 0 || Le32(bytes, 32) != 1) {
        return std::nullopt;
    }
    const std::size_t binsLength = Le32(bytes, 40);
    if (binsLength > bytes.size() - kBaseBlock) {
        return std::nullopt;
    }
    const Cells cells(bytes.substr(kBaseBlock, binsLength), Le32(bytes, 24));
    Hive hive;
    hive.dirty = Le32(bytes, 4) != Le32(bytes, 8);
    // Keys still to read: the key node's offset, its parent's index and its depth. A key node is
    // read once: an index that leads back to it is a damaged hive.
    struct Pending {
        std::uint32_t offset;
        std::size_t parent;
        std::size_t depth;
    };
    std::vector<Pending> pending{{Le32(bytes, 36), 0, 0}};
    std::vector<bool> seen(binsLength / 8 + 1);
    std::size_t values = 0;
    std::size_t valueBytes = 0;
    while (!pending.empty()) {
        const auto next = pending.back();
        pending.pop_back();
        if (next.depth > kHiveMaxDepth || hive.keys.size() >= kHiveMaxKeys ||
            next.offset / 8 >= seen.size() || seen[next.offset / 8]) {
            return std::nullopt;
        }
        seen[next.offset / 8] = true;
        auto node = ReadKey(cells, next.offset, values, valueBytes);
        if (!node || node->subkeys.size() > kHiveMaxKeys - hive.keys.size()) {
            return std::nullopt;
        }
        const std::size_t index = hive.keys.size();
        if (next.depth > 0) {
            hive.keys[next.parent].subkeys.push_back(index);
        }
        hive.keys.push_back(std::move(node->key));
        // In reverse, so that the subkeys are read, and listed, in their index's order.
        for (auto it = node->subkeys.rbegin(); it != node->subkeys.rend(); ++it) {
            pending.push_back({*it, index, next.depth + 1});
        }
    }
    return hive;
}

const HiveKey* HiveTree::Find(const KeyPath& path) const {
    const HiveKey* key = &hive_.keys.front();
    for (const auto& name : path) {
        const HiveKey* found = nullptr;
        for (const auto index : key->subkeys) {
            if (ToLower(hive_.keys[index].name) == ToLower(name)) {
                found = &hive_.keys[index];
                break;
            }
        }
        if (!found) {
            return nullptr;
        }
        key = found;
    }
    return key;
}

std::optional<std::vector<std::wstring>> HiveTree::Subkeys(const KeyPath& path) const {
    const auto* key = Find(path);
    if (!key) {
        return std::nullopt;
    }
    std::vector<std::wstring> names;
    for (const auto index : key->subkeys) {
        names.push_back(hive_.keys[index].name);
    }
    return names;
}

std::optional<KeyValue> HiveTree::Value(const KeyPath& path, const std::wstring& name) const {
    const auto* key = Find(path);
    if (!key) {
        return std::nullopt;
    }
    for (const auto& value : key->values) {
        if (ToLower(value.name) == ToLower(name)) {
            return value.value;
        }
    }
    return std::nullopt;
}

}  // namespace kestrix
