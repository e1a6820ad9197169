#include "platform/text.h"

#include "platform/bytes.h"

namespace kestrix {

std::wstring DecimalText(long long value) {
    const bool negative = value < 0;
    // Works on the magnitude as unsigned, so the most negative value needs no special case.
    unsigned long long magnitude =
        negative ? 0ull - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
    std::wstring digits;
    do {
        digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative) {
        digits.insert(digits.begin(), L'-');
    }
    return digits;
}

std::wstring HexText(std::uint64_t value, int digits) {
    std::wstring text(static_cast<std::size_t>(digits), L'0');
    for (int i = digits - 1; i >= 0; --i, value >>= 4) {
        text[static_cast<std::size_t>(i)] = L"0123456789ABCDEF"[value & 0xF];
    }
    return text;
}

std::wstring GuidText(std::string_view guid) {
    std::wstring text = L"{" + HexText(Le32(guid, 0), 8) + L"-" + HexText(Le16(guid, 4), 4) + L"-" +
                        HexText(Le16(guid, 6), 4) + L"-";
    for (std::size_t i = 8; i < 16; ++i) {
        text += HexText(Byte(guid, i), 2) + (i == 9 ? L"-" : L"");
    }
    return text + L"}";
}

std::wstring SerialNumberText(std::uint32_t serial) {
    return HexText(serial >> 16, 4) + L"-" + HexText(serial & 0xFFFF, 4);
}

std::wstring TrimSpaces(std::wstring_view text) {
    const auto first = text.find_first_not_of(L' ');
    if (first == std::wstring_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(L' ');
    return std::wstring(text.substr(first, last - first + 1));
}

namespace {

wchar_t LowerChar(wchar_t c) {
    const auto u = static_cast<unsigned>(c);
    if ((u >= 'A' && u <= 'Z') || (u >= 0xC0 && u <= 0xDE && u != 0xD7) ||
        (u >= 0x391 && u <= 0x3A9 && u != 0x3A2) || (u >= 0x410 && u <= 0x42F) ||
        (u >= 0xFF21 && u <= 0xFF3A)) {
        return static_cast<wchar_t>(u + 0x20);
    }
    if (u >= 0x400 && u <= 0x40F) {
        return static_cast<wchar_t>(u + 0x50);
    }
    return c;
}

}  // namespace

std::wstring ToLower(std::wstring_view text) {
    std::wstring out(text);
    for (auto& c : out) {
        c = LowerChar(c);
    }
    return out;
}

std::vector<std::wstring> SplitAll(std::wstring_view text, std::wstring_view separator) {
    std::vector<std::wstring> pieces;
    if (text.empty()) {
        return pieces;
    }
    std::size_t start = 0;
    for (;;) {
        const auto hit = text.find(separator, start);
        if (hit == std::wstring_view::npos || separator.empty()) {
            pieces.emplace_back(text.substr(start));
            return pieces;
        }
        pieces.emplace_back(text.substr(start, hit - start));
        start = hit + separator.size();
    }
}

std::wstring ReplaceAll(std::wstring_view text, std::wstring_view from, std::wstring_view to) {
    if (from.empty()) {
        return std::wstring(text);
    }
    std::wstring out;
    std::size_t start = 0;
    for (auto hit = text.find(from); hit != std::wstring_view::npos;
         hit = text.find(from, start)) {
        out.append(text.substr(start, hit - start));
        out.append(to);
        start = hit + from.size();
    }
    out.append(text.substr(start));
    return out;
}

std::wstring Left(std::wstring_view text, std::size_t n) {
    return std::wstring(text.substr(0, n));
}

std::vector<std::wstring> SplitLines(std::wstring_view text) {
    std::vector<std::wstring> lines;
    std::wstring line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c != L'\r' && c != L'\n') {
            line += c;
            continue;
        }
        lines.push_back(std::move(line));
        line.clear();
        if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') {
            ++i;
        }
    }
    if (!line.empty()) {
        lines.push_back(std::move(line));
    }
    return lines;
}

std::string ToUtf8(std::wstring_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto cp = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(text[i]));
        if constexpr (sizeof(wchar_t) == 2) {
            if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size()) {
                const auto low = static_cast<char32_t>(static_cast<unsigned short>(text[i + 1]));
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

std::wstring FromUtf8(std::string_view text) {
    std::wstring out;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        char32_t cp = 0xFFFD;
        std::size_t len = 1;
        if (b < 0x80) {
            cp = b;
        } else if ((b >> 5) == 0x6) {
            len = 2;
            cp = b & 0x1F;
        } else if ((b >> 4) == 0xE) {
            len = 3;
            cp = b & 0x0F;
        } else if ((b >> 3) == 0x1E) {
            len = 4;
            cp = b & 0x07;
        }
        if (len > 1) {
            std::size_t k = 1;
            for (; k < len && i + k < text.size(); ++k) {
                const auto cont = static_cast<unsigned char>(text[i + k]);
                if ((cont >> 6) != 0x2) {
                    break;
                }
                cp = (cp << 6) | (cont & 0x3F);
            }
            if (k < len) {
                // A broken sequence stands for one replacement character.
                cp = 0xFFFD;
                len = k;
            }
        }
        i += len;
        if constexpr (sizeof(wchar_t) == 2) {
            if (cp >= 0x10000) {
                cp -= 0x10000;
                out += static_cast<wchar_t>(0xD800 + (cp >> 10));
                out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
                continue;
            }
        }
        out += static_cast<wchar_t>(cp);
    }
    return out;
}

std::wstring FailureText(std::uint32_t error, std::wstring_view text) {
    if (error == 0) {
        return std::wstring(text);
    }
    return L"错误 " + DecimalText(error) + L"：" + std::wstring(text);
}

}  // namespace kestrix
