#pragma once
// Real disk images for the partition-table tests: sparse files in a private temporary folder,
// partitioned by util-linux's own tools, read back through a file-backed sector reader.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "lister/partition_table.h"

namespace kestrix::testing {

class FileSectorReader final : public SectorReader {
public:
    explicit FileSectorReader(const std::filesystem::path& path) : file_(path, std::ios::binary) {}

    bool Read(std::uint64_t offset, std::span<std::uint8_t> out) override {
        file_.clear();
        file_.seekg(static_cast<std::streamoff>(offset));
        file_.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
        return file_.gcount() == static_cast<std::streamsize>(out.size());
    }

    std::optional<std::uint64_t> Size() override {
        file_.clear();
        file_.seekg(0, std::ios::end);
        const std::streamoff end = file_.tellg();
        return end < 0 ? std::nullopt : std::optional<std::uint64_t>(end);
    }

private:
    std::ifstream file_;
};

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestrix-disk-XXXXXX");
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        path_ = pattern;
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// An image file of the given size with the partition table the script describes.
class DiskImage {
public:
    // sfdisk's input format ("label: dos", "start=2048, size=4096, type=7, bootable"...).
    static constexpr const char* kSfdisk =
        "sfdisk --no-reread --no-tell-kernel --wipe never --quiet";
    // fdisk's menu keys, for what sfdisk cannot do: another logical sector size.
    static std::string Fdisk(std::uint32_t sectorSize) {
        return "fdisk --wipe never --sector-size " + std::to_string(sectorSize);
    }

    DiskImage(const TempFolder& folder, const std::string& name, std::uint64_t sizeMiB,
              const std::string& tool, const std::string& script)
        : path_(folder.path() / (name + ".img")) {
        { std::ofstream create(path_, std::ios::binary); }
        std::filesystem::resize_file(path_, sizeMiB << 20);
        const auto scriptPath = folder.path() / (name + ".txt");
        std::ofstream(scriptPath) << script;
        // /usr/sbin is not on every user's PATH.
        const std::string command = "PATH=\"$PATH:/usr/sbin:/sbin\" " + tool + " '" +
                                    path_.string() + "' < '" + scriptPath.string() +
                                    "' > /dev/null 2>&1";
        ok_ = std::system(command.c_str()) == 0;
    }

    bool ok() const { return ok_; }
    const std::filesystem::path& path() const { return path_; }

    DiskLayout Decode(std::uint32_t sectorSize = kDefaultSectorSize) const {
        FileSectorReader reader(path_);
        return DecodePartitionTable(reader, sectorSize);
    }

    std::vector<std::uint8_t> Bytes(std::uint64_t offset, std::size_t count) const {
        std::vector<std::uint8_t> bytes(count);
        std::ifstream file(path_, std::ios::binary);
        file.seekg(static_cast<std::streamoff>(offset));
        file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
        return bytes;
    }
    void Write(std::uint64_t offset, std::span<const std::uint8_t> bytes) const {
        std::fstream file(path_, std::ios::binary | std::ios::in | std::ios::out);
        file.seekp(static_cast<std::streamoff>(offset));
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    std::uint32_t Le32At(std::uint64_t offset) const {
        const auto b = Bytes(offset, 4);
        return b[0] | b[1] << 8 | b[2] << 16 | static_cast<std::uint32_t>(b[3]) << 24;
    }
    void SetLe32At(std::uint64_t offset, std::uint32_t value) const {
        const std::uint8_t b[] = {
            static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
        Write(offset, b);
    }

private:
    std::filesystem::path path_;
    bool ok_ = false;
};

}  // namespace kestrix::testing
