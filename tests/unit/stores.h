#pragma once
// Boot stores for the tests: the real ones beside the checkout, and those that
// stores/make_stores.py writes with hivex, made once a run into a temporary folder.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace kestrix::testing {

inline const std::string kRealStores = KESTRIX_BCD_STORES;
inline const std::string kStoreScripts = KESTRIX_STORE_SCRIPTS;

inline std::string CommandOutput(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = fread(buffer, 1, sizeof(buffer), pipe)) > 0;) {
            out.append(buffer, n);
        }
        pclose(pipe);
    }
    return out;
}

inline const std::string& MadeStores() {
    static const std::string folder = [] {
        const auto path =
            std::filesystem::temp_directory_path() / ("kestrix-stores-" + std::to_string(getpid()));
        std::filesystem::create_directories(path);
        CommandOutput("/usr/bin/python3 " + kStoreScripts + "/make_stores.py " + kRealStores +
                      "/winpe-mbr-boot.bcd " + path.string() + " " + kRealStores +
                      "/windows10-uefi-gpt.bcd");
        return path.string();
    }();
    return folder;
}

// A store's path: a real one by its file name ("windows10-uefi-gpt.bcd"), else a made one.
inline std::string StorePath(const std::string& name) {
    const auto real = kRealStores + "/" + name;
    return std::filesystem::exists(real) ? real : MadeStores() + "/" + name;
}

inline std::string StoreBytes(const std::string& name) {
    std::ifstream in(StorePath(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace kestrix::testing
