// kprobe: starts the program with an exact command line and reads or drives its windows from
// outside, for the end-to-end runner; and gives the program's own Secure Boot verdict, over its CNG
// signature checks, on an EFI file for a firmware's db and dbx held in files. Everything it prints
// is UTF-8 key=value lines.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"
#include "platform/win32/control_ids.h"
#include "platform/win32/win32_signatures.h"
#include "secureboot/image_verdict.h"
#include "secureboot/signature_list.h"

namespace {

constexpr int kOk = 0;
constexpr int kNotFound = 1;
constexpr int kUsage = 2;

// A program blocked in a tool run answers nothing; better a partial reading than a hung probe.
constexpr UINT kReplyTimeoutMs = 3000;

// The text control of a system message box.
constexpr int kMessageTextId = 0xFFFF;

// One value per line, so line breaks, tabs and other controls are written as escapes, and the
// backslash too so that the reader can undo them exactly.
std::string Escape(std::wstring_view text) {
    std::string out;
    for (const char c : kestrix::ToUtf8(text)) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    static const char hex[] = "0123456789abcdef";
                    out += "\\x";
                    out += hex[(c >> 4) & 0xF];
                    out += hex[c & 0xF];
                } else {
                    out += c;
                }
        }
    }
    return out;
}

class Report {
  public:
    void Add(std::string_view key, std::wstring_view value) {
        text_ += key;
        text_ += '=';
        text_ += Escape(value);
        text_ += '\n';
    }
    void Add(std::string_view key, long long value) { Add(key, std::to_wstring(value)); }
    void Flag(std::string_view key, bool value) { Add(key, value ? 1 : 0); }

    void Write() const {
        const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
        std::string_view rest = text_;
        while (!rest.empty()) {
            DWORD wrote = 0;
            if (!WriteFile(out, rest.data(), static_cast<DWORD>(rest.size()), &wrote, nullptr) ||
                wrote == 0) {
                return;
            }
            rest.remove_prefix(wrote);
        }
    }

  private:
    std::string text_;
};

void Complain(std::wstring_view text) {
    const std::string bytes = kestrix::ToUtf8(text) + "\n";
    DWORD wrote = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
              &wrote, nullptr);
}

// Every question to the program's windows goes through here; a missed answer is recorded so
// the reading can say it is incomplete.
class Asker {
  public:
    bool Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
        // Once the program has failed to answer, every further question would wait as long.
        if (window == nullptr || missed_) {
            return false;
        }
        DWORD_PTR answer = 0;
        if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kReplyTimeoutMs,
                                 &answer)) {
            missed_ = true;
            return false;
        }
        result = static_cast<LRESULT>(answer);
        return true;
    }

    std::wstring Text(HWND window) {
        LRESULT length = 0;
        if (!Ask(window, WM_GETTEXTLENGTH, 0, 0, length) || length <= 0) {
            return {};
        }
        std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
        LRESULT got = 0;
        if (!Ask(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), got)) {
            return {};
        }
        text.resize(static_cast<std::size_t>(got < 0 ? 0 : got));
        return text;
    }

    // List box and combo box entries share the same shape of messages.
    std::vector<std::wstring> Entries(HWND window, UINT count, UINT lengthOf, UINT textOf) {
        std::vector<std::wstring> entries;
        LRESULT n = 0;
        if (!Ask(window, count, 0, 0, n) || n < 0) {
            return entries;
        }
        for (LRESULT i = 0; i < n; ++i) {
            LRESULT length = 0;
            if (!Ask(window, lengthOf, static_cast<WPARAM>(i), 0, length) || length < 0) {
                entries.emplace_back();
                continue;
            }
            std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
            LRESULT got = 0;
            if (!Ask(window, textOf, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text.data()),
                     got) ||
                got < 0) {
                got = 0;
            }
            text.resize(static_cast<std::size_t>(got));
            entries.push_back(text);
        }
        return entries;
    }

    bool Missed() const { return missed_; }

  private:
    bool missed_ = false;
};

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

DWORD ProcessOf(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

struct Windows {
    HWND start = nullptr;
    HWND repair = nullptr;
    DWORD pid = 0;
};

Windows FindProgram() {
    Windows found;
    found.start = FindWindowW(KESTRIX_START_CLASS, nullptr);
    found.repair = FindWindowW(KESTRIX_REPAIR_CLASS, nullptr);
    if (found.repair != nullptr) {
        found.pid = ProcessOf(found.repair);
    } else if (found.start != nullptr) {
        found.pid = ProcessOf(found.start);
    }
    return found;
}

struct BoxSearch {
    DWORD pid;
    std::vector<HWND> boxes;
};

BOOL CALLBACK CollectBox(HWND window, LPARAM context) {
    auto& search = *reinterpret_cast<BoxSearch*>(context);
    if (ProcessOf(window) == search.pid && IsWindowVisible(window) &&
        ClassOf(window) == L"#32770") {
        search.boxes.push_back(window);
    }
    return TRUE;
}

// The visible system dialogs (message boxes) of one process, topmost first.
std::vector<HWND> MessageBoxesOf(DWORD pid) {
    BoxSearch search{pid, {}};
    EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&search));
    return search.boxes;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM context) {
    reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
    return TRUE;
}

std::vector<HWND> ChildrenOf(HWND parent) {
    std::vector<HWND> children;
    EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&children));
    return children;
}

std::wstring MessageText(Asker& asker, HWND box) {
    if (const HWND text = GetDlgItem(box, kMessageTextId)) {
        return asker.Text(text);
    }
    for (const HWND child : ChildrenOf(box)) {
        if (ClassOf(child) == L"Static") {
            std::wstring text = asker.Text(child);
            if (!text.empty()) {
                return text;
            }
        }
    }
    return {};
}

// A memory device context over a top-down 32-bit picture whose pixels the probe reads directly.
class Canvas {
  public:
    Canvas(int width, int height) : width_(width), height_(height) {
        dc_ = CreateCompatibleDC(nullptr);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        if (dc_ != nullptr && width > 0 && height > 0) {
            bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
        }
        if (bitmap_ != nullptr) {
            old_ = SelectObject(dc_, bitmap_);
        }
    }
    ~Canvas() {
        if (bitmap_ != nullptr) {
            SelectObject(dc_, old_);
            DeleteObject(bitmap_);
        }
        if (dc_ != nullptr) {
            DeleteDC(dc_);
        }
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    bool Ok() const { return bitmap_ != nullptr && bits_ != nullptr; }
    HDC Dc() const { return dc_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    std::size_t Count() const {
        return static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
    }
    // GDI may batch its drawing; the pixels are read only after it has finished.
    const std::uint32_t* Pixels() const {
        GdiFlush();
        return static_cast<const std::uint32_t*>(bits_);
    }
    void CopyScreen(POINT origin) {
        const HDC screen = GetDC(nullptr);
        BitBlt(dc_, 0, 0, width_, height_, screen, origin.x, origin.y, SRCCOPY);
        ReleaseDC(nullptr, screen);
    }
    void Fill(COLORREF colour) {
        const HBRUSH brush = CreateSolidBrush(colour);
        RECT all{0, 0, width_, height_};
        FillRect(dc_, &all, brush);
        DeleteObject(brush);
    }

  private:
    int width_;
    int height_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
    void* bits_ = nullptr;
};

// Sum of the per-channel differences of two pixels.
int Distance(std::uint32_t a, std::uint32_t b) {
    int sum = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const int x = static_cast<int>((a >> shift) & 0xFF);
        const int y = static_cast<int>((b >> shift) & 0xFF);
        sum += x > y ? x - y : y - x;
    }
    return sum;
}

// Sum of the per-channel differences of two pictures of the same size.
std::uint64_t Distance(const std::uint32_t* a, const std::uint32_t* b, std::size_t count) {
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        sum += static_cast<std::uint64_t>(Distance(a[i], b[i]));
    }
    return sum;
}

// The icon of a message box cannot be read as a handle from another process, so the pixels on
// screen are compared with each standard icon drawn here on the same background.
std::wstring MessageIcon(Asker& asker, HWND box) {
    HWND iconControl = nullptr;
    for (const HWND child : ChildrenOf(box)) {
        if (ClassOf(child) == L"Static" && IsWindowVisible(child) &&
            (GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
            iconControl = child;
            break;
        }
    }
    // The handle is meaningless here, but whether there is one at all is not.
    LRESULT handle = 0;
    if (iconControl == nullptr ||
        (asker.Ask(iconControl, STM_GETICON, 0, 0, handle) && handle == 0)) {
        return L"none";
    }
    RECT area{};
    GetClientRect(iconControl, &area);
    const int width = area.right;
    const int height = area.bottom;
    if (width <= 0 || height <= 0) {
        return L"none";
    }
    POINT origin{0, 0};
    ClientToScreen(iconControl, &origin);

    Canvas canvas(width, height);
    if (!canvas.Ok()) {
        return L"unknown";
    }
    canvas.CopyScreen(origin);
    const std::size_t count = canvas.Count();
    const std::vector<std::uint32_t> shown(canvas.Pixels(), canvas.Pixels() + count);
    // A corner of an icon is transparent, so it shows the background.
    const std::uint32_t background = shown.front() & 0xFFFFFF;
    // How far the picture is from a plain background: the yardstick for a close enough match.
    const std::vector<std::uint32_t> plain(count, background);
    const std::uint64_t blankScore = Distance(shown.data(), plain.data(), count);
    const COLORREF fill =
        RGB((background >> 16) & 0xFF, (background >> 8) & 0xFF, background & 0xFF);

    struct Candidate {
        const wchar_t* name;
        LPCWSTR id;
    };
    const Candidate candidates[] = {{L"exclamation", IDI_EXCLAMATION},
                                    {L"hand", IDI_HAND},
                                    {L"question", IDI_QUESTION},
                                    {L"asterisk", IDI_ASTERISK}};
    std::wstring best = L"unknown";
    std::uint64_t bestScore = ~0ull;
    for (const auto& candidate : candidates) {
        canvas.Fill(fill);
        DrawIconEx(canvas.Dc(), 0, 0, LoadIconW(nullptr, candidate.id), width, height, 0, nullptr,
                   DI_NORMAL);
        const std::uint64_t score = Distance(shown.data(), canvas.Pixels(), count);
        if (score < bestScore) {
            bestScore = score;
            best = candidate.name;
        }
    }
    if (blankScore == 0) {
        return L"none";
    }
    // Nothing close enough: covered by another window, or not one of the standard icons.
    if (bestScore * 4 > blankScore) {
        return L"unknown";
    }
    return best;
}

void DescribeMessageBoxes(Report& report, Asker& asker, DWORD pid) {
    for (const HWND box : MessageBoxesOf(pid)) {
        report.Add("msgbox", MessageText(asker, box));
        report.Add("msgbox.hwnd", static_cast<long long>(reinterpret_cast<std::uintptr_t>(box)));
        report.Add("msgbox.title", asker.Text(box));
        std::wstring buttons;
        for (const HWND child : ChildrenOf(box)) {
            if (ClassOf(child) == L"Button" && IsWindowVisible(child)) {
                if (!buttons.empty()) {
                    buttons += L',';
                }
                buttons += std::to_wstring(GetDlgCtrlID(child));
            }
        }
        report.Add("msgbox.buttons", buttons);
        report.Add("msgbox.icon", MessageIcon(asker, box));
    }
}

void DescribeMain(Report& report, Asker& asker, HWND start) {
    report.Flag("start.visible", IsWindowVisible(start));
    report.Add("start.title", asker.Text(start));
    LRESULT check = 0;
    if (asker.Ask(GetDlgItem(start, IDC_BOOT_SECTOR_ONLY), BM_GETCHECK, 0, 0, check)) {
        report.Add("bootonly", check);
    }
    if (const HWND startbutton = GetDlgItem(start, IDC_START)) {
        report.Flag("startbutton.enabled", IsWindowEnabled(startbutton));
    }
}

void DescribeSelection(Report& report, Asker& asker, HWND repair) {
    report.Flag("repair.visible", IsWindowVisible(repair));
    report.Add("repair.title", asker.Text(repair));
    if (const HWND partition = GetDlgItem(repair, IDC_PARTITION)) {
        report.Add("partition.text", asker.Text(partition));
        for (const auto& entry : asker.Entries(partition, CB_GETCOUNT, CB_GETLBTEXTLEN, CB_GETLBTEXT)) {
            report.Add("partition.entry", entry);
        }
    }
    if (const HWND confirm = GetDlgItem(repair, IDC_CONFIRM)) {
        report.Add("confirm.text", asker.Text(confirm));
        report.Flag("confirm.enabled", IsWindowEnabled(confirm));
    }
    if (const HWND progress = GetDlgItem(repair, IDC_PROGRESS_LOG)) {
        report.Flag("progress.visible", IsWindowVisible(progress));
        report.Flag("progress.enabled", IsWindowEnabled(progress));
        for (const auto& line : asker.Entries(progress, LB_GETCOUNT, LB_GETTEXTLEN, LB_GETTEXT)) {
            report.Add("progress.line", line);
        }
    }
}

// Layout: where each window and control is, what it shows and in which font.

std::wstring Numbers(std::initializer_list<long long> values) {
    std::wstring out;
    for (const long long value : values) {
        if (!out.empty()) {
            out += L',';
        }
        out += std::to_wstring(value);
    }
    return out;
}

// left,top,width,height
std::wstring Box(const RECT& r) {
    return Numbers({r.left, r.top, r.right - r.left, r.bottom - r.top});
}

// A control's rectangle in its window's client coordinates.
RECT PlaceIn(HWND window, HWND control) {
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// Which pixels carry ink: those at least half as far from the most common colour as the most
// distinct pixel is, so red text on grey and black text on white give the same shapes.
struct Mask {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> ink;

    bool operator==(const Mask&) const = default;
    bool Empty() const { return Count() == 0; }
    int Count() const {
        int n = 0;
        for (const auto i : ink) {
            n += i;
        }
        return n;
    }
};

// Below this the picture is taken as plain: no text to compare.
constexpr int kLeastContrast = 60;

// inkColour, when given, receives the colour of the most distinct pixel: the text's own colour.
Mask InkOf(const Canvas& canvas, std::uint32_t* inkColour = nullptr) {
    const std::size_t count = canvas.Count();
    const std::uint32_t* pixels = canvas.Pixels();
    std::vector<std::uint32_t> sorted(pixels, pixels + count);
    for (auto& pixel : sorted) {
        pixel &= 0xFFFFFF;
    }
    std::sort(sorted.begin(), sorted.end());
    std::uint32_t background = 0;
    std::size_t bestRun = 0;
    for (std::size_t i = 0; i < sorted.size();) {
        std::size_t j = i;
        while (j < sorted.size() && sorted[j] == sorted[i]) {
            ++j;
        }
        if (j - i > bestRun) {
            bestRun = j - i;
            background = sorted[i];
        }
        i = j;
    }
    int farthest = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const int distance = Distance(pixels[i] & 0xFFFFFF, background);
        if (distance > farthest) {
            farthest = distance;
            if (inkColour != nullptr) {
                *inkColour = pixels[i] & 0xFFFFFF;
            }
        }
    }
    Mask mask{canvas.Width(), canvas.Height(), std::vector<std::uint8_t>(count, 0)};
    if (farthest < kLeastContrast) {
        return mask;
    }
    for (std::size_t i = 0; i < count; ++i) {
        mask.ink[i] = Distance(pixels[i] & 0xFFFFFF, background) * 2 > farthest ? 1 : 0;
    }
    return mask;
}

// The smallest part of a mask that holds all its ink.
Mask Cropped(const Mask& mask) {
    int left = mask.width;
    int top = mask.height;
    int right = -1;
    int bottom = -1;
    for (int y = 0; y < mask.height; ++y) {
        for (int x = 0; x < mask.width; ++x) {
            if (mask.ink[static_cast<std::size_t>(y * mask.width + x)]) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    Mask out;
    if (right < 0) {
        return out;
    }
    out.width = right - left + 1;
    out.height = bottom - top + 1;
    out.ink.resize(static_cast<std::size_t>(out.width * out.height));
    for (int y = 0; y < out.height; ++y) {
        for (int x = 0; x < out.width; ++x) {
            out.ink[static_cast<std::size_t>(y * out.width + x)] =
                mask.ink[static_cast<std::size_t>((y + top) * mask.width + x + left)];
        }
    }
    return out;
}

// The fonts the windows are meant to use: the system's message font, and 宋体 in the GB2312
// character set made the way the program makes it.
struct FontCandidate {
    const wchar_t* name;
    int decipoints;  // 0: the message font
    int weight;
};

constexpr FontCandidate kFontCandidates[] = {
    {L"message", 0, FW_NORMAL},        {L"song-9", 90, FW_NORMAL},
    {L"song-9-bold", 90, FW_BOLD},     {L"song-10.5", 105, FW_NORMAL},
    {L"song-10.5-bold", 105, FW_BOLD}, {L"song-12", 120, FW_NORMAL},
    {L"song-12-bold", 120, FW_BOLD},
};

HFONT CreateCandidate(const FontCandidate& candidate, int dpi) {
    if (candidate.decipoints == 0) {
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof metrics;
        if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
            return nullptr;
        }
        return CreateFontIndirectW(&metrics.lfMessageFont);
    }
    return CreateFontW(-MulDiv(candidate.decipoints, dpi, 720), 0, 0, 0, candidate.weight, FALSE,
                       FALSE, FALSE, GB2312_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                       DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"宋体");
}

// The text drawn here in black on white, cropped to its ink.
Mask DrawnText(const std::wstring& text, HFONT font, UINT format, int wrapWidth) {
    RECT size{0, 0, wrapWidth, 0};
    {
        Canvas measure(1, 1);
        SelectObject(measure.Dc(), font);
        DrawTextW(measure.Dc(), text.c_str(), -1, &size, format | DT_CALCRECT);
    }
    constexpr int kMargin = 4;
    Canvas canvas(size.right + 2 * kMargin, size.bottom + 2 * kMargin);
    if (!canvas.Ok()) {
        return {};
    }
    canvas.Fill(RGB(255, 255, 255));
    SelectObject(canvas.Dc(), font);
    SetTextColor(canvas.Dc(), RGB(0, 0, 0));
    SetBkMode(canvas.Dc(), TRANSPARENT);
    RECT at{kMargin, kMargin, kMargin + size.right, kMargin + size.bottom};
    DrawTextW(canvas.Dc(), text.c_str(), -1, &at, format);
    return Cropped(InkOf(canvas));
}

// The share of the drawn text's ink, in percent, that differs from the shown ink where the
// drawing fits best; -1 when it fits nowhere.
int Mismatch(const Mask& shown, const Mask& drawn) {
    const int ink = drawn.Count();
    if (ink == 0 || drawn.width > shown.width || drawn.height > shown.height) {
        return -1;
    }
    int best = std::numeric_limits<int>::max();
    for (int top = 0; top + drawn.height <= shown.height; ++top) {
        for (int left = 0; left + drawn.width <= shown.width; ++left) {
            int differ = 0;
            for (int y = 0; y < drawn.height && differ < best; ++y) {
                const std::uint8_t* a =
                    &shown.ink[static_cast<std::size_t>((top + y) * shown.width + left)];
                const std::uint8_t* b = &drawn.ink[static_cast<std::size_t>(y * drawn.width)];
                for (int x = 0; x < drawn.width; ++x) {
                    differ += a[x] != b[x];
                }
            }
            best = std::min(best, differ);
        }
    }
    return static_cast<int>(static_cast<long long>(best) * 100 / ink);
}

// A match is named only when it is close and clearly closer than any other font.
constexpr int kMostMismatch = 25;
constexpr int kLeastLead = 15;

// Whether the control is what the screen shows at its centre and corners: no other window above
// its own, and no sibling above it or above any of its parents within that window.
bool Uncovered(HWND control) {
    RECT r{};
    GetWindowRect(control, &r);
    const POINT points[] = {{(r.left + r.right) / 2, (r.top + r.bottom) / 2},
                            {r.left + 1, r.top + 1},
                            {r.right - 2, r.top + 1},
                            {r.left + 1, r.bottom - 2},
                            {r.right - 2, r.bottom - 2}};
    const HWND root = GetAncestor(control, GA_ROOT);
    for (const POINT& point : points) {
        const HWND there = WindowFromPoint(point);
        if (there == nullptr || GetAncestor(there, GA_ROOT) != root) {
            return false;
        }
        for (HWND child = control; child != root;) {
            const HWND parent = GetParent(child);
            POINT inParent = point;
            ScreenToClient(parent, &inParent);
            if (parent == nullptr ||
                ChildWindowFromPointEx(parent, inParent, CWP_SKIPINVISIBLE) != child) {
                return false;
            }
            child = parent;
        }
    }
    return true;
}

// The font a control's text is shown in, judged from the screen: a font handle of another
// process cannot be read (Wine does not even pass WM_GETFONT between processes), so the pixels
// are compared with the same text drawn here in each candidate font. Candidates that draw this
// text identically cannot be told apart and are named together, joined by "|".
void DescribeFont(Report& report, const std::string& key, HWND shown, const std::wstring& text,
                  UINT format, int dpi) {
    if (text.empty()) {
        return;
    }
    if (!IsWindowVisible(shown) || !Uncovered(shown)) {
        report.Add(key + ".font", L"unseen");
        return;
    }
    RECT client{};
    GetClientRect(shown, &client);
    POINT origin{0, 0};
    ClientToScreen(shown, &origin);
    Canvas screen(client.right, client.bottom);
    if (!screen.Ok()) {
        report.Add(key + ".font", L"unseen");
        return;
    }
    screen.CopyScreen(origin);
    std::uint32_t inkColour = 0;
    const Mask shownInk = InkOf(screen, &inkColour);
    if (shownInk.Empty()) {
        report.Add(key + ".font", L"unseen");
        return;
    }
    wchar_t colour[8] = {};
    wsprintfW(colour, L"%06x", static_cast<unsigned>(inkColour));
    report.Add(key + ".ink", colour);

    struct Group {
        std::wstring names;
        Mask drawn;
        int mismatch;
    };
    std::vector<Group> groups;
    for (const auto& candidate : kFontCandidates) {
        const HFONT font = CreateCandidate(candidate, dpi);
        if (font == nullptr) {
            continue;
        }
        const int wrap = (format & DT_WORDBREAK) ? client.right : 4096;
        Mask drawn = DrawnText(text, font, format, wrap);
        DeleteObject(font);
        bool joined = false;
        for (auto& group : groups) {
            if (group.drawn == drawn) {
                group.names += L'|';
                group.names += candidate.name;
                joined = true;
                break;
            }
        }
        if (!joined) {
            const int mismatch = Mismatch(shownInk, drawn);
            groups.push_back({candidate.name, std::move(drawn), mismatch});
        }
    }
    const Group* best = nullptr;
    int next = -1;
    for (const auto& group : groups) {
        if (group.mismatch < 0) {
            continue;
        }
        if (best == nullptr || group.mismatch < best->mismatch) {
            if (best != nullptr) {
                next = best->mismatch;
            }
            best = &group;
        } else if (next < 0 || group.mismatch < next) {
            next = group.mismatch;
        }
    }
    const bool clear = best != nullptr && best->mismatch <= kMostMismatch &&
                       (next < 0 || next - best->mismatch >= kLeastLead);
    report.Add(key + ".font", clear ? best->names : std::wstring(L"unclear"));
    if (best != nullptr) {
        report.Add(key + ".font.mismatch", best->mismatch);
    }
    if (next >= 0) {
        report.Add(key + ".font.next", next);
    }
}

UINT TextFormatOf(HWND control) {
    const std::wstring name = ClassOf(control);
    if (name == L"Static") {
        const LONG_PTR style = GetWindowLongPtrW(control, GWL_STYLE);
        return DT_LEFT | DT_WORDBREAK | DT_EXPANDTABS | ((style & SS_NOPREFIX) ? DT_NOPREFIX : 0);
    }
    if (name == L"Edit") {
        return DT_SINGLELINE | DT_NOPREFIX;
    }
    return DT_SINGLELINE;
}

struct ControlName {
    const char* name;
    int id;
};

constexpr ControlName kMainNames[] = {{"bootonly", IDC_BOOT_SECTOR_ONLY},
                                      {"startbutton", IDC_START},
                                      {"title", IDC_START_TITLE},
                                      {"notice", IDC_START_NOTICE}};
constexpr ControlName kSelectionNames[] = {{"progress", IDC_PROGRESS_LOG},
                                           {"confirm", IDC_CONFIRM},
                                           {"partition", IDC_PARTITION},
                                           {"keepopen", IDC_KEEP_OPEN},
                                           {"instruction", IDC_INSTRUCTION}};

void DescribeControl(Report& report, Asker& asker, HWND window, const std::string& key,
                     HWND control, int dpi) {
    report.Add(key + ".rect", Box(PlaceIn(window, control)));
    // The control's own flag: a control of a hidden window is still meant to be seen.
    report.Flag(key + ".visible", (GetWindowLongPtrW(control, GWL_STYLE) & WS_VISIBLE) != 0);
    report.Flag(key + ".enabled", IsWindowEnabled(control));
    const std::wstring kind = ClassOf(control);
    if (kind == L"ListBox") {
        LRESULT top = 0;
        LRESULT count = 0;
        LRESULT itemHeight = 0;
        RECT client{};
        GetClientRect(control, &client);
        if (asker.Ask(control, LB_GETTOPINDEX, 0, 0, top) &&
            asker.Ask(control, LB_GETCOUNT, 0, 0, count) &&
            asker.Ask(control, LB_GETITEMHEIGHT, 0, 0, itemHeight) && itemHeight > 0) {
            report.Add(key + ".top", top);
            report.Add(key + ".count", count);
            // Rows shown whole; a part row at the bottom does not count.
            report.Add(key + ".rows", client.bottom / itemHeight);
        }
        return;
    }
    if (kind == L"ComboBox") {
        // A drop-down combo box is its edit field plus a list that hangs below when opened.
        LRESULT fieldHeight = 0;
        if (asker.Ask(control, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0, fieldHeight)) {
            report.Add(key + ".field_height", fieldHeight);
        }
        if (const HWND field = FindWindowExW(control, nullptr, L"Edit", nullptr)) {
            report.Add(key + ".field", Box(PlaceIn(window, field)));
            const std::wstring text = asker.Text(field);
            report.Add(key + ".text", text);
            DescribeFont(report, key, field, text, TextFormatOf(field), dpi);
        }
        return;
    }
    const std::wstring text = asker.Text(control);
    report.Add(key + ".text", text);
    DescribeFont(report, key, control, text, TextFormatOf(control), dpi);
}

template <std::size_t N>
void DescribeLayout(Report& report, Asker& asker, const std::string& prefix, HWND window,
                    const ControlName (&names)[N], int dpi) {
    RECT frame{};
    GetWindowRect(window, &frame);
    RECT client{};
    GetClientRect(window, &client);
    report.Add(prefix + ".frame", Box(frame));
    report.Add(prefix + ".client", Numbers({client.right, client.bottom}));
    report.Flag(prefix + ".topmost", (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
        report.Add(prefix + ".work", Box(monitor.rcWork));
    }
    for (const auto& control : names) {
        const std::string key = prefix + "." + control.name;
        if (const HWND handle = GetDlgItem(window, control.id)) {
            DescribeControl(report, asker, window, key, handle, dpi);
        } else {
            report.Flag(key + ".exists", false);
        }
    }
}

int Layout() {
    Report report;
    Asker asker;
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    report.Add("screen.dpi", dpi);
    report.Add("screen.size",
               Numbers({GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}));
    const Windows program = FindProgram();
    if (program.start != nullptr) {
        DescribeLayout(report, asker, "start", program.start, kMainNames, dpi);
    }
    if (program.repair != nullptr) {
        DescribeLayout(report, asker, "repair", program.repair, kSelectionNames, dpi);
    }
    if (asker.Missed()) {
        report.Flag("busy", true);
    }
    report.Write();
    return program.start == nullptr && program.repair == nullptr ? kNotFound : kOk;
}

int State() {
    Report report;
    Asker asker;
    const Windows program = FindProgram();
    report.Flag("running", program.repair != nullptr);
    if (program.pid != 0) {
        report.Add("pid", program.pid);
    }
    if (program.start != nullptr) {
        DescribeMain(report, asker, program.start);
    }
    if (program.repair != nullptr) {
        DescribeSelection(report, asker, program.repair);
    }
    if (program.pid != 0) {
        DescribeMessageBoxes(report, asker, program.pid);
    }
    // A reading with an unanswered question is incomplete; the runner takes the next one.
    if (asker.Missed()) {
        report.Flag("busy", true);
    }
    report.Write();
    return kOk;
}

int Launch(const std::wstring& exe, const std::wstring& tail, const std::wstring& folder) {
    std::wstring commandLine = L"\"" + exe + L"\" " + tail;
    std::wstring current = folder;
    if (current.empty()) {
        const auto slash = exe.find_last_of(L"\\/");
        if (slash != std::wstring::npos) {
            current = exe.substr(0, slash + 1);
        }
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // Wine now and then fails to bring a new process up (its loader cannot reserve the address
    // space it wants) and says ERROR_INTERNAL_ERROR before any of the program has run: that start
    // is tried again; any other failure is the answer.
    for (int attempt = 1;; ++attempt) {
        if (CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                           current.empty() ? nullptr : current.c_str(), &startup, &process)) {
            break;
        }
        const DWORD error = GetLastError();
        Complain(L"cannot start " + exe + L": error " + std::to_wstring(error));
        if (error != ERROR_INTERNAL_ERROR || attempt == 3) {
            return 127;
        }
        Sleep(500);
    }
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

struct Named {
    const wchar_t* name;
    int id;
};

int Answer(const std::wstring& which) {
    static const Named buttons[] = {
        {L"ok", IDOK}, {L"cancel", IDCANCEL}, {L"yes", IDYES}, {L"no", IDNO}};
    int id = 0;
    for (const auto& button : buttons) {
        if (which == button.name) {
            id = button.id;
        }
    }
    if (id == 0) {
        Complain(L"unknown answer: " + which);
        return kUsage;
    }
    const Windows program = FindProgram();
    const auto boxes = program.pid == 0 ? std::vector<HWND>{} : MessageBoxesOf(program.pid);
    if (boxes.empty()) {
        Complain(L"no message box is open");
        return kNotFound;
    }
    const HWND button = GetDlgItem(boxes.front(), id);
    if (button == nullptr || !IsWindowVisible(button)) {
        Complain(L"the message box has no " + which + L" button");
        return kUsage;
    }
    PostMessageW(button, BM_CLICK, 0, 0);
    return kOk;
}

int Close(const std::wstring& which) {
    const Windows program = FindProgram();
    const HWND window = which == L"start" ? program.start : which == L"repair" ? program.repair : nullptr;
    if (which != L"start" && which != L"repair") {
        Complain(L"unknown window: " + which);
        return kUsage;
    }
    if (window == nullptr) {
        Complain(L"no such window open: " + which);
        return kNotFound;
    }
    PostMessageW(window, WM_CLOSE, 0, 0);
    return kOk;
}

int Press(const std::wstring& which) {
    const Windows program = FindProgram();
    HWND button = nullptr;
    if (which == L"startbutton") {
        button = program.start ? GetDlgItem(program.start, IDC_START) : nullptr;
    } else if (which == L"confirm") {
        button = program.repair ? GetDlgItem(program.repair, IDC_CONFIRM) : nullptr;
    } else {
        Complain(L"unknown button: " + which);
        return kUsage;
    }
    if (button == nullptr) {
        Complain(L"button not found: " + which);
        return kNotFound;
    }
    PostMessageW(button, BM_CLICK, 0, 0);
    return kOk;
}

// A static with SS_NOTIFY turns a button-down into STN_CLICKED for its parent; sending the mouse
// messages also reaches a program that watches the label itself.
int Click(const std::wstring& which) {
    if (which != L"keepopen") {
        Complain(L"unknown label: " + which);
        return kUsage;
    }
    const Windows program = FindProgram();
    const HWND label = program.repair ? GetDlgItem(program.repair, IDC_KEEP_OPEN) : nullptr;
    if (label == nullptr) {
        Complain(L"label not found: " + which);
        return kNotFound;
    }
    PostMessageW(label, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(1, 1));
    PostMessageW(label, WM_LBUTTONUP, 0, MAKELPARAM(1, 1));
    return kOk;
}

// As if typed: the drop-down combo box takes WM_SETTEXT into its edit field, which is what the
// program reads back as the chosen partition.
int SetText(const std::wstring& which, const std::wstring& text) {
    if (which != L"partition") {
        Complain(L"unknown control: " + which);
        return kUsage;
    }
    const Windows program = FindProgram();
    const HWND combo = program.repair ? GetDlgItem(program.repair, IDC_PARTITION) : nullptr;
    if (combo == nullptr) {
        Complain(L"control not found: " + which);
        return kNotFound;
    }
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(combo, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                             SMTO_ABORTIFHUNG, kReplyTimeoutMs, &result) ||
        result != TRUE) {
        Complain(L"the program did not take the text");
        return kNotFound;
    }
    return kOk;
}

// As Windows does at a shutdown, to every window of the program: "query" sends
// WM_QUERYENDSESSION and prints allowed=1 when every window lets the session end; "end" sends
// WM_ENDSESSION(TRUE), after which the program has no say.
int SessionEnd(const std::wstring& what) {
    if (what != L"query" && what != L"end") {
        Complain(L"unknown session step: " + what);
        return kUsage;
    }
    const Windows program = FindProgram();
    if (program.start == nullptr && program.repair == nullptr) {
        Complain(L"no window of the program is open");
        return kNotFound;
    }
    if (what == L"end") {
        // The first window the program ends at; the other is gone with it.
        for (const HWND window : {program.repair, program.start}) {
            DWORD_PTR ignored = 0;
            SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, 0, SMTO_ABORTIFHUNG, kReplyTimeoutMs,
                                &ignored);
        }
        return kOk;
    }
    bool allowed = true;
    Asker asker;
    for (const HWND window : {program.start, program.repair}) {
        LRESULT answer = TRUE;
        if (window != nullptr && !asker.Ask(window, WM_QUERYENDSESSION, 0, 0, answer)) {
            Complain(L"the program did not answer WM_QUERYENDSESSION");
            return kNotFound;
        }
        allowed = allowed && answer != FALSE;
    }
    Report report;
    report.Flag("allowed", allowed);
    report.Write();
    return kOk;
}

// The whole of a file; nothing when it cannot be read.
std::optional<std::string> ReadAll(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    std::string bytes;
    char chunk[65536];
    DWORD got = 0;
    BOOL read = FALSE;
    while ((read = ReadFile(file, chunk, sizeof(chunk), &got, nullptr)) && got != 0) {
        bytes.append(chunk, got);
    }
    CloseHandle(file);
    return read ? std::optional(bytes) : std::nullopt;
}

// A signature database as Windows gives a variable's data, from a file; "-" is a variable that
// does not exist, which holds nothing. Nothing when it cannot be read or decoded.
std::optional<std::vector<kestrix::SignatureEntry>> ReadDatabase(const std::wstring& path) {
    const auto bytes = path == L"-" ? std::optional(std::string()) : ReadAll(path);
    return bytes ? kestrix::DecodeSignatureLists(*bytes) : std::nullopt;
}

const wchar_t* ReasonCode(kestrix::VerdictReason reason) {
    switch (reason) {
        case kestrix::VerdictReason::DbHash:
            return L"db-hash";
        case kestrix::VerdictReason::DbCertificate:
            return L"db-certificate";
        case kestrix::VerdictReason::DbxHash:
            return L"dbx-hash";
        case kestrix::VerdictReason::DbxCertificate:
            return L"dbx-certificate";
        case kestrix::VerdictReason::SignerNotInDb:
            return L"signer-not-in-db";
        case kestrix::VerdictReason::InvalidSignature:
            return L"invalid-signature";
        case kestrix::VerdictReason::Unsigned:
            return L"unsigned";
        case kestrix::VerdictReason::Unreadable:
            break;
    }
    return L"unreadable";
}

// The program's own verdict, over its CNG signature checks, on an EFI file for a firmware whose db
// and dbx the files hold: verdict=allowed|refused|unknown and reason=<code>.
int VerdictOn(const std::wstring& efi, const std::wstring& db, const std::wstring& dbx) {
    const auto bytes = ReadAll(efi);
    const kestrix::SecurityDatabases databases{ReadDatabase(db), ReadDatabase(dbx)};
    const auto verdict =
        bytes ? kestrix::JudgeImage(*bytes, databases, kestrix::win32::Win32Signatures())
              : kestrix::ImageVerdict{};
    Report report;
    report.Add("verdict", verdict.verdict == kestrix::Verdict::Allowed   ? L"allowed"
                          : verdict.verdict == kestrix::Verdict::Refused ? L"refused"
                                                                         : L"unknown");
    report.Add("reason", ReasonCode(verdict.reason));
    report.Write();
    return kOk;
}

int Usage() {
    Complain(
        L"usage: kprobe launch <exe> <command-line tail> [<current folder>]\n"
        L"       kprobe state\n"
        L"       kprobe layout\n"
        L"       kprobe squeeze\n"
        L"       kprobe answer ok|yes|no|cancel\n"
        L"       kprobe close start|repair\n"
        L"       kprobe press startbutton|confirm\n"
        L"       kprobe click keepopen\n"
        L"       kprobe settext partition <text>\n"
        L"       kprobe session query|end\n"
        L"       kprobe verdict <EFI file> <db file>|- <dbx file>|-");
    return kUsage;
}

// The program is aware of per-monitor DPI; the probe too, so both count in the screen's pixels.
void UsePhysicalPixels() {
    using SetContextFn = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
    const auto setContext = reinterpret_cast<SetContextFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")));
    if (setContext == nullptr || !setContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2)) {
        SetProcessDPIAware();
    }
}

}  // namespace

// Takes the program's free address space: reserves it (committing nothing) in the largest pieces
// it can, down to 64 KiB, so that the program's next allocation that its heap cannot serve from
// what it holds fails, as when memory runs out. Prints reserved=<MiB>.
int Squeeze() {
    const Windows program = FindProgram();
    if (program.pid == 0) {
        Complain(L"no window of the program is open");
        return kNotFound;
    }
    const HANDLE process =
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_QUERY_INFORMATION, FALSE, program.pid);
    if (process == nullptr) {
        Complain(L"the program's process cannot be opened");
        return kNotFound;
    }
    unsigned long long reserved = 0;
    for (SIZE_T size = SIZE_T{1} << (sizeof(void*) == 8 ? 46 : 31); size >= 64 * 1024; size /= 2) {
        while (VirtualAllocEx(process, nullptr, size, MEM_RESERVE, PAGE_NOACCESS) != nullptr) {
            reserved += size;
        }
    }
    CloseHandle(process);
    Report report;
    report.Add("reserved", static_cast<long long>(reserved >> 20));
    report.Write();
    return kOk;
}

int wmain(int argc, wchar_t** argv) {
    UsePhysicalPixels();
    const std::vector<std::wstring> args(argv + 1, argv + argc);
    if (args.empty()) {
        return Usage();
    }
    const std::wstring& command = args[0];
    if (command == L"launch" && (args.size() == 3 || args.size() == 4)) {
        return Launch(args[1], args[2], args.size() == 4 ? args[3] : L"");
    }
    if (command == L"state" && args.size() == 1) {
        return State();
    }
    if (command == L"layout" && args.size() == 1) {
        return Layout();
    }
    if (command == L"verdict" && args.size() == 4) {
        return VerdictOn(args[1], args[2], args[3]);
    }
    if (command == L"squeeze" && args.size() == 1) {
        return Squeeze();
    }
    if (command == L"settext" && args.size() == 3) {
        return SetText(args[1], args[2]);
    }
    if (args.size() == 2) {
        if (command == L"answer") {
            return Answer(args[1]);
        }
        if (command == L"close") {
            return Close(args[1]);
        }
        if (command == L"press") {
            return Press(args[1]);
        }
        if (command == L"click") {
            return Click(args[1]);
        }
        if (command == L"session") {
            return SessionEnd(args[1]);
        }
    }
    return Usage();
}
