// One stand-in for every outside tool the program starts, built once under each tool's name; the
// name it runs under picks what it does. Each run leaves a line in journal.txt beside it, so a
// test sees which tools ran, with which arguments, in which order.
//
// Set-up files beside it, named after it, change one run or all of them:
//   <stem>.exitcode   the exit code; any other than 0 skips the tool's work
//   <stem>.fail-when  a text: only runs whose arguments contain it take <stem>.exitcode
//   <stem>.delay-ms   how long to wait after the journal line before acting, so that a test can
//                     act while the tool runs
// Without an exit code file the tool does its work and fails, as the real one would, when it
// cannot: bootsect.exe when the raw volume cannot be written or holds no NTFS or FAT boot record,
// bcdboot.exe when the store cannot, bcdedit.exe when its /store cannot be opened for writing.
// Like a console tool whose output is redirected, each writes a line in the OEM code page to
// standard output, and on failure one to standard error; dsptw writes only its listing, of one
// disk or, asked with /all, of disks 0 to 10.
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"
#include "tests/tools/standin_store.h"

namespace {

enum class Tool { Bootsect, Bcdboot, Bcdedit, Dsptw, Diskpart, Other };

struct Self {
    std::wstring folder;  // with its trailing backslash
    std::wstring stem;    // the file name as on disk, without ".exe"
    Tool tool = Tool::Other;
};

std::wstring Lower(std::wstring_view text) {
    std::wstring out(text);
    for (auto& c : out) {
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
    }
    return out;
}

std::wstring ModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) {
            return {};
        }
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

Self WhoAmI() {
    const std::wstring path = ModulePath();
    const auto slash = path.find_last_of(L"\\/");
    Self self;
    self.folder = slash == std::wstring::npos ? L"" : path.substr(0, slash + 1);
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    if (Lower(name).ends_with(L".exe")) {
        name.resize(name.size() - 4);
    }
    self.stem = name;
    const std::wstring key = Lower(name);
    if (key == L"bootsect") {
        self.tool = Tool::Bootsect;
    } else if (key == L"bcdboot") {
        self.tool = Tool::Bcdboot;
    } else if (key == L"bcdedit") {
        self.tool = Tool::Bcdedit;
    } else if (key == L"dsptw") {
        self.tool = Tool::Dsptw;
    } else if (key == L"diskpart") {
        self.tool = Tool::Diskpart;
    }
    return self;
}

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

// Skips the program token the way the C runtime does (a quoted one ends at the next quote, a bare
// one at the first blank), then the blanks after it; the rest is kept exactly.
std::wstring_view ArgumentsOf(std::wstring_view line) {
    std::size_t i = 0;
    if (!line.empty() && line[0] == L'"') {
        const auto close = line.find(L'"', 1);
        i = close == std::wstring_view::npos ? line.size() : close + 1;
    } else {
        while (i < line.size() && !IsBlank(line[i])) {
            ++i;
        }
    }
    while (i < line.size() && IsBlank(line[i])) {
        ++i;
    }
    return line.substr(i);
}

// Blank-separated tokens; quotes group blanks and are dropped.
std::vector<std::wstring> Tokens(std::wstring_view args) {
    std::vector<std::wstring> tokens;
    std::wstring current;
    bool quoted = false;
    bool any = false;
    for (const wchar_t c : args) {
        if (c == L'"') {
            quoted = !quoted;
            any = true;
        } else if (IsBlank(c) && !quoted) {
            if (any) {
                tokens.push_back(current);
            }
            current.clear();
            any = false;
        } else {
            current += c;
            any = true;
        }
    }
    if (any) {
        tokens.push_back(current);
    }
    return tokens;
}

bool ReadWholeFile(const std::wstring& path, std::string& out) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    out.clear();
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        out.append(buffer, got);
    }
    CloseHandle(file);
    return true;
}

bool WriteAll(HANDLE handle, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD wrote = 0;
        if (!WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr) ||
            wrote == 0) {
            return false;
        }
        bytes.remove_prefix(wrote);
    }
    return true;
}

// Append-only access makes every write land at the end even when another run has the file open,
// and a sharing clash (a run still closing it) is waited out rather than losing the line.
void AppendJournal(const std::wstring& folder, std::string_view line) {
    const std::wstring path = folder + L"journal.txt";
    for (int attempt = 0; attempt < 100; ++attempt) {
        const HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            WriteAll(file, line);
            CloseHandle(file);
            return;
        }
        if (GetLastError() != ERROR_SHARING_VIOLATION) {
            return;
        }
        Sleep(20);
    }
}

// A set-up file that cannot be read as a number must not pass as success.
constexpr DWORD kBadExitCodeFile = 255;
// The tool could not do its work (a volume or store it cannot write).
constexpr DWORD kWorkFailed = 1;
// The arguments name nothing to work on.
constexpr DWORD kUsageFailed = 87;

std::string_view Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r\n");
    return std::string_view(text.data() + first, last - first + 1);
}

// Whether the exit code file applies to this run: always, unless a fail-when text is set up and
// the arguments do not contain it.
bool ChosenToFail(const Self& self, std::wstring_view args) {
    std::string text;
    if (!ReadWholeFile(self.folder + self.stem + L".fail-when", text)) {
        return true;
    }
    const std::string_view wanted = Trimmed(text);
    return kestrix::ToUtf8(args).find(wanted) != std::string::npos;
}

DWORD ChosenExitCode(const Self& self, std::wstring_view args) {
    std::string text;
    if (!ReadWholeFile(self.folder + self.stem + L".exitcode", text) ||
        !ChosenToFail(self, args)) {
        return 0;
    }
    std::string_view digits = Trimmed(text);
    if (digits.empty()) {
        return kBadExitCodeFile;
    }
    bool negative = false;
    if (digits.front() == '-') {
        negative = true;
        digits.remove_prefix(1);
    }
    if (digits.empty() || digits.size() > 10) {
        return kBadExitCodeFile;
    }
    std::uint64_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return kBadExitCodeFile;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value > 0xFFFFFFFFull) {
        return kBadExitCodeFile;
    }
    const auto code = static_cast<DWORD>(value);
    return negative ? static_cast<DWORD>(0u - code) : code;
}

// No number, or none at all: no wait.
DWORD ChosenDelay(const Self& self) {
    std::string text;
    if (!ReadWholeFile(self.folder + self.stem + L".delay-ms", text)) {
        return 0;
    }
    DWORD ms = 0;
    for (const char c : Trimmed(text)) {
        if (c < '0' || c > '9' || ms > 600000) {
            return 0;
        }
        ms = ms * 10 + static_cast<DWORD>(c - '0');
    }
    return ms;
}

// The token after the first one equal to the option (case-insensitive), or "".
std::wstring ValueAfter(const std::vector<std::wstring>& tokens, std::wstring_view option) {
    for (std::size_t i = 0; i + 1 < tokens.size(); ++i) {
        if (Lower(tokens[i]) == option) {
            return tokens[i + 1];
        }
    }
    return {};
}

bool WriteFileAt(const std::wstring& path, std::string_view bytes) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool wrote = WriteAll(file, bytes);
    CloseHandle(file);
    return wrote;
}

// Writes a file over one that Windows may keep protected, as the real tools do: its attributes
// cleared first, then the ones given set (0 leaves it a normal file), read-only last, as Wine
// cannot mark a file that is already read-only hidden or system.
bool ReplaceFileAt(const std::wstring& path, std::string_view bytes, DWORD attributes) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    const DWORD writable = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    return WriteFileAt(path, bytes) &&
           (writable == 0 || SetFileAttributesW(path.c_str(), writable) != FALSE) &&
           (attributes == 0 || SetFileAttributesW(path.c_str(), attributes) != FALSE);
}

std::string ReadFileAt(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got != 0) {
        bytes.append(buffer, got);
    }
    CloseHandle(file);
    return bytes;
}

bool HasOption(std::wstring_view args, std::wstring_view option) {
    for (const auto& token : Tokens(args)) {
        if (Lower(token) == option) {
            return true;
        }
    }
    return false;
}

constexpr wchar_t kBootManager[] = L"{9dea862c-5cdd-4e70-acc1-f32b344d4795}";
constexpr std::uint32_t kDefault = 0x23000003;
constexpr std::uint32_t kRecoverySequence = 0x14000008;

// The object a text element names.
std::wstring NamedObject(const standin::Element* element) {
    std::wstring id;
    for (std::size_t i = 0; element && i + 1 < element->value.data.size(); i += 2) {
        const auto c = static_cast<wchar_t>(static_cast<unsigned char>(element->value.data[i]) |
                                            static_cast<unsigned char>(element->value.data[i + 1]) << 8);
        if (c == L'\0') {
            break;
        }
        id += c;
    }
    return id;
}

// The store bcdboot leaves for the Windows it was started for: the boot manager's default and
// display order name that Windows' loader (the store's default loader is kept when there is
// one), started by winload from \Windows. The partitions are left unknown: under Wine no drive
// is a partition. With /bootex the loader's Windows RE entry is lost.
std::string BootStoreFor(const std::string& before, bool uefi, bool updated) {
    auto store = standin::ReadStore(before);
    auto& manager = store.Add(kBootManager, 0x10100002);
    manager.Set(0x11000001, standin::UnknownPartition());
    manager.Set(0x12000004, standin::Text(L"Windows Boot Manager"));
    if (uefi) {
        manager.Set(0x12000002, standin::Text(L"\\EFI\\Microsoft\\Boot\\bootmgfw.efi"));
    }
    auto id = NamedObject(manager.Find(kDefault));
    if (id.empty()) {
        id = L"{5d1e7a40-3c2b-4f1e-9a8d-7b6c5e4f3a21}";
    }
    auto& loader = store.Add(id, 0x10200003);
    loader.Set(0x11000001, standin::UnknownPartition());
    loader.Set(0x12000002, standin::Text(uefi ? L"\\Windows\\system32\\winload.efi"
                                              : L"\\Windows\\system32\\winload.exe"));
    loader.Set(0x12000004, standin::Text(L"Windows"));
    loader.Set(0x21000001, standin::UnknownPartition());
    loader.Set(0x22000002, standin::Text(L"\\Windows"));
    if (updated) {
        loader.Remove(kRecoverySequence);
    }
    store.Find(kBootManager)->Set(kDefault, standin::Text(id));
    store.Find(kBootManager)->Set(0x24000001, standin::Objects({id}));
    return standin::WriteStore(store);
}

// UEFI boot files, as the real tool makes them: the boot manager of the Windows named first
// (\Windows\Boot\EFI\bootmgfw.efi, or with /bootex the one in EFI_EX, which it needs), copied to
// the Microsoft folder and as the fallback loader, and the store, kept when it is there. With
// /bootex the loader's Windows RE entry is lost.
DWORD WriteEfiBootFiles(std::wstring_view args, const std::wstring& drive) {
    const auto tokens = Tokens(args);
    const bool updated = HasOption(args, L"/bootex");
    const std::wstring windows = tokens.empty() ? L"" : tokens[0];
    std::string manager = ReadFileAt(windows + (updated ? L"\\Boot\\EFI_EX\\bootmgfw_EX.efi"
                                                        : L"\\Boot\\EFI\\bootmgfw.efi"));
    if (manager.empty()) {
        if (updated) {
            return kWorkFailed;
        }
        manager = "stand-in boot manager\r\n";
    }
    // Like the real tool on recent Windows, it needs the folder to be there.
    const std::wstring folder = drive + L"\\EFI\\Microsoft\\Boot";
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return kWorkFailed;
    }
    const std::string store = BootStoreFor(ReadFileAt(folder + L"\\BCD"), true, updated);
    CreateDirectoryW((drive + L"\\EFI\\Boot").c_str(), nullptr);
    const bool wrote = WriteFileAt(folder + L"\\BCD", store) &&
                       WriteFileAt(folder + L"\\bootmgfw.efi", manager) &&
                       WriteFileAt(drive + L"\\EFI\\Boot\\bootx64.efi", manager);
    return wrote ? 0 : kWorkFailed;
}

// bcdboot leaves the boot manager and a boot store on the drive named after /s, as the real tool
// would: the boot manager read-only, hidden and system, as Windows keeps it.
DWORD WriteBootStore(std::wstring_view args) {
    std::wstring drive = ValueAfter(Tokens(args), L"/s");
    if (drive.empty()) {
        return 0;
    }
    while (!drive.empty() && (drive.back() == L'\\' || drive.back() == L'/')) {
        drive.pop_back();
    }
    if (Lower(ValueAfter(Tokens(args), L"/f")) == L"uefi") {
        return WriteEfiBootFiles(args, drive);
    }
    const std::wstring folder = drive + L"\\boot";
    CreateDirectoryW(folder.c_str(), nullptr);
    const bool wrote =
        ReplaceFileAt(folder + L"\\bcd", BootStoreFor(ReadFileAt(folder + L"\\bcd"), false, false),
                      0) &&
        ReplaceFileAt(drive + L"\\bootmgr", "stand-in boot manager\r\n",
                      FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    return wrote ? 0 : kWorkFailed;
}

// bcdedit changes the store named after /store, so it must be able to open it for writing; the
// stand-in leaves its bytes as they are, except that it lists them for /enum and sets the one
// setting the program reads back, the default loader's recoverysequence, in the store's hive.
DWORD OpenStore(std::wstring_view args) {
    const auto tokens = Tokens(args);
    const std::wstring store = ValueAfter(tokens, L"/store");
    if (store.empty()) {
        return 0;
    }
    const bool listing = HasOption(args, L"/enum");
    const HANDLE file = CreateFileW(store.c_str(), GENERIC_READ | (listing ? 0 : GENERIC_WRITE),
                                    FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return kWorkFailed;
    }
    CloseHandle(file);
    if (listing) {
        WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), ReadFileAt(store));
    } else if (const auto value = ValueAfter(tokens, L"recoverysequence"); !value.empty()) {
        auto kept = standin::ReadStore(ReadFileAt(store));
        auto* manager = kept.Find(kBootManager);
        auto* loader = manager ? kept.Find(NamedObject(manager->Find(kDefault))) : nullptr;
        if (loader == nullptr) {
            return kWorkFailed;
        }
        loader->Set(kRecoverySequence, standin::Objects({value}));
        return WriteFileAt(store, standin::WriteStore(kept)) ? 0 : kWorkFailed;
    }
    return 0;
}

// Where the boot code starts: after the BPB that bootsect keeps, which is NTFS's (bytes 0x0B-0x53)
// when the name field says NTFS, FAT32's (0x0B-0x59) when the short BPB records no FAT size, else
// FAT12/16's (0x0B-0x3D). 0 for a sector that is no boot record of these.
std::size_t BootCodeStart(const std::string& sector) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(sector[i]); };
    if (at(510) != 0x55 || at(511) != 0xAA || (at(0x0B) | at(0x0C)) == 0) {
        return 0;
    }
    if (sector.compare(3, 8, "NTFS    ") == 0) {
        return 0x54;
    }
    return (at(0x16) | at(0x17)) == 0 ? 0x5A : 0x3E;
}

// What bootsect writes over the volume's first sector: a jump to the boot code, the name field and
// BPB as they were, so that the volume still describes its file system, then in place of the boot
// code a tag naming the generation, so that a test can tell the sector from the one before, and
// the boot signature.
std::string BootRecord(const std::string& before, std::size_t codeStart,
                       std::wstring_view generation) {
    std::string record(512, '\0');
    record[0] = '\xEB';
    record[1] = static_cast<char>(codeStart - 2);
    record[2] = '\x90';
    record.replace(3, codeStart - 3, before, 3, codeStart - 3);
    const std::string tag = "KESTRIX-STANDIN-" + kestrix::ToUtf8(generation);
    record.replace(codeStart, tag.size(), tag);
    record[510] = '\x55';
    record[511] = '\xAA';
    return record;
}

// bootsect /nt52 X: or /nt60 X: rewrites the boot code in the first sector of the raw volume
// \\.\X:; like the real tool it fails on a volume that holds no NTFS or FAT file system.
DWORD WriteBootSector(std::wstring_view args) {
    const auto tokens = Tokens(args);
    std::wstring generation;
    std::wstring drive;
    for (std::size_t i = 0; i + 1 < tokens.size(); ++i) {
        const std::wstring option = Lower(tokens[i]);
        if (option == L"/nt52" || option == L"/nt60") {
            generation = L"NT" + option.substr(3);
            drive = tokens[i + 1];
            break;
        }
    }
    if (drive.empty()) {
        return kUsageFailed;
    }
    const std::wstring device = L"\\\\.\\" + drive;
    const HANDLE volume = CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      0, nullptr);
    if (volume == INVALID_HANDLE_VALUE) {
        return kWorkFailed;
    }
    std::string sector(512, '\0');
    DWORD got = 0;
    const bool read = ReadFile(volume, sector.data(), 512, &got, nullptr) && got == 512;
    const std::size_t codeStart = read ? BootCodeStart(sector) : 0;
    const LARGE_INTEGER start{};
    const bool wrote = codeStart != 0 && SetFilePointerEx(volume, start, nullptr, FILE_BEGIN) &&
                       WriteAll(volume, BootRecord(sector, codeStart, generation));
    CloseHandle(volume);
    return wrote ? 0 : kWorkFailed;
}

// What dsptw prints for disk N: its prepared listing, or, as the real tool does past the last
// disk, its end marker with exit code 1.
DWORD AddDiskListing(const Self& self, const std::wstring& disk, std::string& out) {
    std::string listing;
    if (!ReadWholeFile(self.folder + L"dsptw-" + disk + L".txt", listing)) {
        out += "open disk error!\r\n";
        return 1;
    }
    out += listing;
    return 0;
}

// dsptw N prints disk N's listing; dsptw /all prints those of disks 0 to 10, each behind a line
// "disk N" (a listing without a last line end gets one), and ends with 0.
DWORD PrintDiskListing(const Self& self, std::wstring_view args) {
    const auto tokens = Tokens(args);
    const std::wstring first = tokens.empty() ? L"" : tokens.front();
    std::string out;
    DWORD exitCode = 0;
    if (Lower(first) == L"/all") {
        for (int disk = 0; disk <= 10; ++disk) {
            out += "disk " + std::to_string(disk) + "\r\n";
            AddDiskListing(self, std::to_wstring(disk), out);
            if (out.back() != '\n') {
                out += "\r\n";
            }
        }
    } else {
        exitCode = AddDiskListing(self, first, out);
    }
    WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), out);
    return exitCode;
}

void Say(DWORD stream, const std::wstring& text) {
    const std::wstring line = text + L"\r\n";
    const int length = static_cast<int>(line.size());
    const int size =
        WideCharToMultiByte(CP_OEMCP, 0, line.data(), length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        return;
    }
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_OEMCP, 0, line.data(), length, bytes.data(), size, nullptr, nullptr);
    WriteAll(GetStdHandle(stream), bytes);
}

// diskpart /s FILE: the script's lines, each behind " | ".
std::wstring ScriptOf(std::wstring_view args) {
    std::string script;
    if (!ReadWholeFile(ValueAfter(Tokens(args), L"/s"), script)) {
        return L" /s ?";
    }
    std::wstring joined;
    for (const auto& line : kestrix::SplitLines(kestrix::FromUtf8(script))) {
        if (!line.empty()) {
            joined += L" | " + line;
        }
    }
    return joined;
}

// A 32-bit stand-in in the 64-bit System32 (started by a 32-bit program through Sysnative) would
// have its journal and set-up files redirected to SysWOW64: it keeps to the folder it is in.
void KeepToOwnFolder() {
    using DisableFn = BOOL(WINAPI*)(PVOID*);
    const auto disable = reinterpret_cast<DisableFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "Wow64DisableWow64FsRedirection")));
    PVOID old = nullptr;
    if (disable != nullptr) {
        disable(&old);
    }
}

}  // namespace

int wmain(int, wchar_t**) {
    KeepToOwnFolder();
    const Self self = WhoAmI();
    const std::wstring_view args = ArgumentsOf(GetCommandLineW());

    const std::wstring shown =
        self.tool == Tool::Dsptw ? Lower(self.stem) : Lower(self.stem) + L".exe";
    std::wstring line = shown;
    if (self.tool == Tool::Diskpart) {
        // The script lies in a temporary folder that differs from run to run: what it says is
        // what counts.
        line += ScriptOf(args);
    } else if (!args.empty()) {
        line += L' ';
        line += args;
    }
    AppendJournal(self.folder, kestrix::ToUtf8(line + L"\r\n"));
    if (const DWORD delay = ChosenDelay(self); delay != 0) {
        Sleep(delay);
    }

    DWORD exitCode = ChosenExitCode(self, args);
    if (exitCode == 0) {
        switch (self.tool) {
            case Tool::Bootsect:
                exitCode = WriteBootSector(args);
                break;
            case Tool::Bcdboot:
                exitCode = WriteBootStore(args);
                break;
            case Tool::Bcdedit:
                exitCode = OpenStore(args);
                break;
            case Tool::Dsptw:
                ExitProcess(PrintDiskListing(self, args));
            case Tool::Diskpart:
            case Tool::Other:
                break;
        }
    }
    if (self.tool != Tool::Dsptw) {
        Say(STD_OUTPUT_HANDLE, shown + L" 替身已运行：" + std::wstring(args));
        if (exitCode != 0) {
            Say(STD_ERROR_HANDLE, shown + L" 替身失败，退出码 " + std::to_wstring(exitCode));
        }
    }
    ExitProcess(exitCode);
}
