#pragma once
// Text helpers shared by every subsystem. Texts are wide strings so the Win32 layer can pass
// them to the W APIs unchanged.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix {

// Decimal digits of a number. Ours rather than the library's, which would bring the whole
// printf machinery into the exe.
std::wstring DecimalText(long long value);

// Upper-case hex digits, as many as asked for: HexText(0x1A2B, 8) is "00001A2B".
std::wstring HexText(std::uint64_t value, int digits);
// A GUID's 16 bytes, as Windows and the firmware store them, in braces:
// "{8BE4DF61-93CA-11D2-AA0D-00E098032B8C}".
std::wstring GuidText(std::string_view guid);
// A volume's serial number as Windows shows it: "1A2B-3C4D".
std::wstring SerialNumberText(std::uint32_t serial);

// Strips leading and trailing U+0020 only: tabs and other white space stay.
std::wstring TrimSpaces(std::wstring_view text);

// Lower-cases ASCII and the common alphabetic blocks; drive letters and options are ASCII.
std::wstring ToLower(std::wstring_view text);

// Cuts at every occurrence of the separator, searched from the left without overlap. An empty
// text gives no pieces, like the classic Split.
std::vector<std::wstring> SplitAll(std::wstring_view text, std::wstring_view separator);

// Replaces every occurrence, searched from the left without overlap, in a single pass.
std::wstring ReplaceAll(std::wstring_view text, std::wstring_view from, std::wstring_view to);

// The first n characters (the whole text when it is shorter).
std::wstring Left(std::wstring_view text, std::size_t n);

// Lines of a text: each ends at CR LF, a lone CR or a lone LF; the line ends are dropped and a
// last line without an end still counts.
std::vector<std::wstring> SplitLines(std::wstring_view text);

// Why an operation failed, as every failure line puts it: "错误 5：拒绝访问。", or the text alone
// when the platform gave no code.
std::wstring FailureText(std::uint32_t error, std::wstring_view text);

std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view text);

}  // namespace kestrix
