#include "tests/tools/standin_store.h"

#include "platform/text.h"
#include "store/hive.h"

namespace standin {

namespace {

void Put16(std::string& out, std::size_t at, std::uint32_t value) {
    out[at] = static_cast<char>(value);
    out[at + 1] = static_cast<char>(value >> 8);
}

void Put32(std::string& out, std::size_t at, std::uint32_t value) {
    Put16(out, at, value & 0xFFFF);
    Put16(out, at + 2, value >> 16);
}

std::string Le32(std::uint32_t value) {
    std::string out(4, '\0');
    Put32(out, 0, value);
    return out;
}

std::string Utf16(std::wstring_view text) {
    std::string out;
    for (const wchar_t c : text) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>((c >> 8) & 0xFF);
    }
    return out;
}

struct Key {
    std::string name;  // ASCII
    std::vector<std::pair<std::string, kestrix::KeyValue>> values;
    std::vector<Key> subkeys;
};

constexpr std::uint32_t kNone = 0xFFFFFFFFu;

// The hive's bin, cells appended one after another; offsets count from the bin's start.
class Bin {
  public:
    Bin() : bytes_(32, '\0') {}

    std::uint32_t Cell(const std::string& data) {
        const auto offset = static_cast<std::uint32_t>(bytes_.size());
        const std::size_t size = (data.size() + 4 + 7) & ~std::size_t{7};
        bytes_ += Le32(static_cast<std::uint32_t>(-static_cast<std::int32_t>(size)));
        bytes_ += data;
        bytes_.append(size - 4 - data.size(), '\0');
        return offset;
    }

    std::uint32_t Write(const Key& key, bool root) {
        std::string list = "li" + std::string(2, '\0');
        Put16(list, 2, static_cast<std::uint32_t>(key.subkeys.size()));
        for (const auto& subkey : key.subkeys) {
            list += Le32(Write(subkey, false));
        }
        std::string values;
        for (const auto& [name, value] : key.values) {
            std::string vk(0x14, '\0');
            vk[0] = 'v';
            vk[1] = 'k';
            Put16(vk, 2, static_cast<std::uint32_t>(name.size()));
            const auto size = static_cast<std::uint32_t>(value.data.size());
            if (size <= 4) {
                Put32(vk, 4, size | 0x80000000u);
                std::string inline_data = value.data;
                inline_data.resize(4, '\0');
                vk.replace(8, 4, inline_data);
            } else {
                Put32(vk, 4, size);
                Put32(vk, 8, Cell(value.data));
            }
            Put32(vk, 0x0C, value.type);
            Put16(vk, 0x10, 1);  // an ASCII name
            values += Le32(Cell(vk + name));
        }
        std::string nk(0x4C, '\0');
        nk[0] = 'n';
        nk[1] = 'k';
        Put16(nk, 2, root ? 0x2C : 0x20);
        Put32(nk, 0x14, static_cast<std::uint32_t>(key.subkeys.size()));
        Put32(nk, 0x1C, key.subkeys.empty() ? kNone : Cell(list));
        Put32(nk, 0x20, kNone);
        Put32(nk, 0x24, static_cast<std::uint32_t>(key.values.size()));
        Put32(nk, 0x28, key.values.empty() ? kNone : Cell(values));
        Put32(nk, 0x2C, kNone);
        Put32(nk, 0x30, kNone);
        Put16(nk, 0x48, static_cast<std::uint32_t>(key.name.size()));
        return Cell(nk + key.name);
    }

    std::string Hive(std::uint32_t root) {
        const std::size_t size = (bytes_.size() + 8 + 4095) & ~std::size_t{4095};
        // The rest of the bin is one free cell.
        bytes_ += Le32(static_cast<std::uint32_t>(size - bytes_.size()));
        bytes_.resize(size, '\0');
        bytes_.replace(0, 4, "hbin");
        Put32(bytes_, 8, static_cast<std::uint32_t>(size));
        std::string base(4096, '\0');
        base.replace(0, 4, "regf");
        Put32(base, 4, 1);
        Put32(base, 8, 1);
        Put32(base, 20, 1);
        Put32(base, 24, 3);
        Put32(base, 32, 1);
        Put32(base, 36, root);
        Put32(base, 40, static_cast<std::uint32_t>(size));
        Put32(base, 44, 1);
        std::uint32_t sum = 0;
        for (std::size_t i = 0; i < 508; i += 4) {
            sum ^= static_cast<unsigned char>(base[i]) |
                   static_cast<unsigned char>(base[i + 1]) << 8 |
                   static_cast<unsigned char>(base[i + 2]) << 16 |
                   static_cast<std::uint32_t>(static_cast<unsigned char>(base[i + 3])) << 24;
        }
        Put32(base, 508, sum);
        return base + bytes_;
    }

  private:
    std::string bytes_;
};

}  // namespace

Element* Object::Find(std::uint32_t wanted) {
    for (auto& element : elements) {
        if (element.type == wanted) {
            return &element;
        }
    }
    return nullptr;
}

void Object::Set(std::uint32_t wanted, kestrix::KeyValue value) {
    if (auto* element = Find(wanted)) {
        element->value = std::move(value);
    } else {
        elements.push_back({wanted, std::move(value)});
    }
}

void Object::Remove(std::uint32_t wanted) {
    std::erase_if(elements, [wanted](const Element& element) { return element.type == wanted; });
}

Object* Store::Find(std::wstring_view id) {
    for (auto& object : objects) {
        if (kestrix::ToLower(object.id) == kestrix::ToLower(id)) {
            return &object;
        }
    }
    return nullptr;
}

Object& Store::Add(const std::wstring& id, std::uint32_t type) {
    if (auto* object = Find(id)) {
        object->type = type;
        return *object;
    }
    objects.push_back({id, type, {}});
    return objects.back();
}

Store ReadStore(std::string_view bytes) {
    Store store;
    auto hive = kestrix::DecodeHive(bytes);
    if (!hive) {
        return store;
    }
    const kestrix::HiveTree tree(std::move(*hive));
    for (const auto& id : tree.Subkeys({L"Objects"}).value_or(std::vector<std::wstring>{})) {
        const auto type = tree.Value({L"Objects", id, L"Description"}, L"Type");
        Object object{
            id,
            type && type->data.size() == 4
                ? static_cast<std::uint32_t>(static_cast<unsigned char>(type->data[0]) |
                                             static_cast<unsigned char>(type->data[1]) << 8 |
                                             static_cast<unsigned char>(type->data[2]) << 16 |
                                             static_cast<unsigned char>(type->data[3]) << 24)
                : 0u,
            {}};
        for (const auto& name :
             tree.Subkeys({L"Objects", id, L"Elements"}).value_or(std::vector<std::wstring>{})) {
            if (auto value = tree.Value({L"Objects", id, L"Elements", name}, L"Element")) {
                object.elements.push_back(
                    {static_cast<std::uint32_t>(std::wcstoul(name.c_str(), nullptr, 16)),
                     std::move(*value)});
            }
        }
        store.objects.push_back(std::move(object));
    }
    return store;
}

std::string WriteStore(const Store& store) {
    Key objects{"Objects", {}, {}};
    for (const auto& object : store.objects) {
        Key elements{"Elements", {}, {}};
        for (const auto& element : object.elements) {
            elements.subkeys.push_back({kestrix::ToUtf8(kestrix::HexText(element.type, 8)),
                                        {{"Element", element.value}},
                                        {}});
        }
        objects.subkeys.push_back(
            {kestrix::ToUtf8(object.id),
             {},
             {{"Description", {{"Type", {kestrix::kRegistryDword, Le32(object.type)}}}, {}},
              std::move(elements)}});
    }
    const Key root{"NewStoreRoot",
                   {},
                   {{"Description", {{"KeyName", Text(L"BCD00000000")}}, {}}, std::move(objects)}};
    Bin bin;
    const auto offset = bin.Write(root, true);
    return bin.Hive(offset);
}

kestrix::KeyValue Text(std::wstring_view text) {
    return {kestrix::kRegistryString, Utf16(text) + std::string(2, '\0')};
}

kestrix::KeyValue Objects(const std::vector<std::wstring>& ids) {
    std::string data;
    for (const auto& id : ids) {
        data += Utf16(id) + std::string(2, '\0');
    }
    return {kestrix::kRegistryMultiString, data + std::string(2, '\0')};
}

kestrix::KeyValue Integer(std::uint64_t value) {
    std::string data;
    for (int i = 0; i < 8; ++i) {
        data += static_cast<char>(value >> (8 * i));
    }
    return {kestrix::kRegistryBinary, data};
}

kestrix::KeyValue UnknownPartition() {
    std::string data(16, '\0');
    data += Le32(6) + Le32(0) + Le32(0x48) + Le32(0);
    data.append(56, '\0');
    return {kestrix::kRegistryBinary, data};
}

}  // namespace standin
