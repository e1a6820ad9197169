#pragma once
// A drive letter, checked once where text enters the program (an option, a typed partition, the
// listing, a manifest): a letter A to Z and its colon, in the letter case it was given.
#include <optional>
#include <string>
#include <string_view>

namespace kestrix {

class DriveLetter {
public:
    // "d:" or "D:", nothing else.
    static std::optional<DriveLetter> Parse(std::wstring_view text) {
        if (text.size() != 2 || text[1] != L':') {
            return std::nullopt;
        }
        return Of(text[0]);
    }

    // The drive of a letter A to Z, in either case.
    static std::optional<DriveLetter> Of(wchar_t letter) {
        if (!((letter >= L'a' && letter <= L'z') || (letter >= L'A' && letter <= L'Z'))) {
            return std::nullopt;
        }
        return DriveLetter(letter);
    }

    // The drive a text begins with: "d:" alone or followed by anything ("d:  容量:100MB", typed in
    // the window).
    static std::optional<DriveLetter> Leading(std::wstring_view text) {
        return Parse(text.substr(0, 2));
    }

    // "d:"
    std::wstring Text() const { return {letter_, L':'}; }
    // "d:" followed by a path on the drive: Path(L"\\boot\\bcd") is "d:\boot\bcd".
    std::wstring Path(std::wstring_view rest) const { return Text() + std::wstring(rest); }
    // Whether it names the same drive, whatever the case.
    bool Is(const DriveLetter& other) const { return Lower() == other.Lower(); }
    // "d:", whatever the case it was given in: the key of a drive.
    std::wstring LowerText() const { return {Lower(), L':'}; }
    // The letter in the case it was given in.
    wchar_t Letter() const { return letter_; }
    // 'd', whatever the case it was given in.
    wchar_t Lower() const {
        return letter_ >= L'A' && letter_ <= L'Z' ? static_cast<wchar_t>(letter_ - L'A' + L'a')
                                                  : letter_;
    }

private:
    explicit DriveLetter(wchar_t letter) : letter_(letter) {}

    wchar_t letter_;
};

// A path on a drive, "d:\boot\bcd", or the drive alone ("d:"): its drive, and the rest after the
// colon, empty or beginning with a backslash.
struct DrivePath {
    // Nothing for any other text: a drive-relative "d:boot", a UNC path.
    static std::optional<DrivePath> Parse(std::wstring_view path) {
        const auto drive = DriveLetter::Leading(path);
        if (!drive || (path.size() > 2 && path[2] != L'\\')) {
            return std::nullopt;
        }
        return DrivePath{*drive, std::wstring(path.substr(2))};
    }

    DriveLetter drive;
    std::wstring rest;
};

}  // namespace kestrix
