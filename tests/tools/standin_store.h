#pragma once
// The boot store as the stand-in bcdboot and bcdedit keep it: read with the program's own hive
// decoder, written back as a hive file of one bin (the stand-ins must leave stores that the
// program, and hivexml, read as Windows' tools leave them).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/key_tree.h"

namespace standin {

struct Element {
    std::uint32_t type = 0;
    kestrix::KeyValue value;
};

struct Object {
    std::wstring id;
    std::uint32_t type = 0;
    std::vector<Element> elements;

    Element* Find(std::uint32_t type);
    void Set(std::uint32_t type, kestrix::KeyValue value);
    void Remove(std::uint32_t type);
};

struct Store {
    std::vector<Object> objects;

    Object* Find(std::wstring_view id);
    Object& Add(const std::wstring& id, std::uint32_t type);
};

// The objects of a hive's store, every element kept as its registry value; an empty store for
// bytes that are no hive.
Store ReadStore(std::string_view bytes);
std::string WriteStore(const Store& store);

kestrix::KeyValue Text(std::wstring_view text);
kestrix::KeyValue Objects(const std::vector<std::wstring>& ids);
kestrix::KeyValue Integer(std::uint64_t value);
// A partition device whose GPT disk and partition are not known (zeros), as under Wine.
kestrix::KeyValue UnknownPartition();

}  // namespace standin
