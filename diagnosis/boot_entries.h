#pragma once
// Decodes the firmware's own boot entries: BootOrder, the numbers of the Boot#### variables in the
// order the firmware tries them, and a Boot#### variable, an EFI_LOAD_OPTION: its attributes, a
// description, and a device path whose nodes say where the loader is.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix {

// Where an entry's device path leads.
enum class LoadTarget {
    Partition,    // a partition of a hard disk, and usually a file on it
    Firmware,     // a program inside the firmware itself (its setup pages, a shell)
    OtherDevice,  // anything else: a network card, a whole removable device, a BIOS disk
};

struct LoadOption {
    bool active = false;
    std::wstring description;
    LoadTarget target = LoadTarget::OtherDevice;
    // For a partition: whether it is named by its GPT unique partition GUID, else by its MBR
    // disk's signature; the 16 bytes of the GUID, or the signature's 4; its number on its disk.
    bool gpt = false;
    std::string signature;
    std::uint32_t partitionNumber = 0;
    // The loader's path from the partition's root ("\EFI\Microsoft\Boot\bootmgfw.efi"); empty
    // when the entry names no file.
    std::wstring file;

    bool operator==(const LoadOption&) const = default;
};

// The numbers in order; a last odd byte is not a number.
std::vector<std::uint16_t> DecodeBootOrder(std::string_view bytes);

// Nothing when the bytes are no load option: too short, a description without its end, a
// device path longer than the bytes or a node whose length leaves its path.
std::optional<LoadOption> DecodeLoadOption(std::string_view bytes);

}  // namespace kestrix
