// kprobe: starts the program with an exact command line and reads or drives its windows from
// outside, for the end-to-end runner. Everything it prints is UTF-8 key=value lines.
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/control_ids.h"

namespace {

constexpr int kOk = 0;
constexpr int kNotFound = 1;
constexpr int kUsage = 2;

// A program blocked in a tool run answers nothing; better a partial reading than a hung probe.
constexpr UINT kReplyTimeoutMs = 3000;

// The text control of a system message box.
constexpr int kMessageTextId = 0xFFFF;

std::string Utf8(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

// One value per line, so line breaks, tabs and other controls are written as escapes, and the
// backslash too so that the reader can undo them exactly.
std::string Escape(std::wstring_view text) {
    std::string out;
    for (const char c : Utf8(text)) {
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
    const std::string bytes = Utf8(text) + "\n";
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
    HWND ch1 = nullptr;
    HWND ch2 = nullptr;
    DWORD pid = 0;
};

Windows FindProgram() {
    Windows found;
    found.ch1 = FindWindowW(KESTRIX_MAIN_CLASS, nullptr);
    found.ch2 = FindWindowW(KESTRIX_SELECTION_CLASS, nullptr);
    if (found.ch2 != nullptr) {
        found.pid = ProcessOf(found.ch2);
    } else if (found.ch1 != nullptr) {
        found.pid = ProcessOf(found.ch1);
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

// Sum of the per-channel differences of two pictures of the same size.
std::uint64_t Distance(const std::uint32_t* a, const std::uint32_t* b, std::size_t count) {
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        for (int shift = 0; shift < 24; shift += 8) {
            const int x = static_cast<int>((a[i] >> shift) & 0xFF);
            const int y = static_cast<int>((b[i] >> shift) & 0xFF);
            sum += static_cast<std::uint64_t>(x > y ? x - y : y - x);
        }
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

    const HDC screen = GetDC(nullptr);
    const HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const HBITMAP canvas = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (canvas == nullptr || bits == nullptr) {
        DeleteDC(memory);
        ReleaseDC(nullptr, screen);
        return L"unknown";
    }
    const HGDIOBJ old = SelectObject(memory, canvas);
    const auto* pixels = static_cast<const std::uint32_t*>(bits);
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);

    BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
    GdiFlush();
    const std::vector<std::uint32_t> shown(pixels, pixels + count);
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
    const HBRUSH brush = CreateSolidBrush(fill);
    for (const auto& candidate : candidates) {
        RECT all{0, 0, width, height};
        FillRect(memory, &all, brush);
        DrawIconEx(memory, 0, 0, LoadIconW(nullptr, candidate.id), width, height, 0, nullptr,
                   DI_NORMAL);
        GdiFlush();
        const std::uint64_t score = Distance(shown.data(), pixels, count);
        if (score < bestScore) {
            bestScore = score;
            best = candidate.name;
        }
    }
    DeleteObject(brush);
    SelectObject(memory, old);
    DeleteObject(canvas);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
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

void DescribeMain(Report& report, Asker& asker, HWND ch1) {
    report.Flag("ch1.visible", IsWindowVisible(ch1));
    report.Add("ch1.title", asker.Text(ch1));
    LRESULT check = 0;
    if (asker.Ask(GetDlgItem(ch1, IDC_FX1), BM_GETCHECK, 0, 0, check)) {
        report.Add("fx1", check);
    }
    if (const HWND command2 = GetDlgItem(ch1, IDC_COMMAND2)) {
        report.Flag("command2.enabled", IsWindowEnabled(command2));
    }
}

void DescribeSelection(Report& report, Asker& asker, HWND ch2) {
    report.Flag("ch2.visible", IsWindowVisible(ch2));
    report.Add("ch2.title", asker.Text(ch2));
    if (const HWND l1 = GetDlgItem(ch2, IDC_L1)) {
        report.Add("l1.text", asker.Text(l1));
        for (const auto& entry : asker.Entries(l1, CB_GETCOUNT, CB_GETLBTEXTLEN, CB_GETLBTEXT)) {
            report.Add("l1.entry", entry);
        }
    }
    if (const HWND an1 = GetDlgItem(ch2, IDC_AN1)) {
        report.Add("an1.text", asker.Text(an1));
        report.Flag("an1.enabled", IsWindowEnabled(an1));
    }
    if (const HWND l2 = GetDlgItem(ch2, IDC_L2)) {
        report.Flag("l2.visible", IsWindowVisible(l2));
        report.Flag("l2.enabled", IsWindowEnabled(l2));
        for (const auto& line : asker.Entries(l2, LB_GETCOUNT, LB_GETTEXTLEN, LB_GETTEXT)) {
            report.Add("l2.line", line);
        }
    }
    if (const HWND d1 = GetDlgItem(ch2, IDC_D1)) {
        for (const auto& entry : asker.Entries(d1, LB_GETCOUNT, LB_GETTEXTLEN, LB_GETTEXT)) {
            report.Add("d1.entry", entry);
        }
    }
}

int State() {
    Report report;
    Asker asker;
    const Windows program = FindProgram();
    report.Flag("running", program.ch2 != nullptr);
    if (program.pid != 0) {
        report.Add("pid", program.pid);
    }
    if (program.ch1 != nullptr) {
        DescribeMain(report, asker, program.ch1);
    }
    if (program.ch2 != nullptr) {
        DescribeSelection(report, asker, program.ch2);
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
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        current.empty() ? nullptr : current.c_str(), &startup, &process)) {
        Complain(L"cannot start " + exe + L": error " + std::to_wstring(GetLastError()));
        return 127;
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
    const HWND window = which == L"ch1" ? program.ch1 : which == L"ch2" ? program.ch2 : nullptr;
    if (which != L"ch1" && which != L"ch2") {
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
    if (which == L"command2") {
        button = program.ch1 ? GetDlgItem(program.ch1, IDC_COMMAND2) : nullptr;
    } else if (which == L"an1") {
        button = program.ch2 ? GetDlgItem(program.ch2, IDC_AN1) : nullptr;
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
    if (which != L"label2") {
        Complain(L"unknown label: " + which);
        return kUsage;
    }
    const Windows program = FindProgram();
    const HWND label = program.ch2 ? GetDlgItem(program.ch2, IDC_CH2_LABEL2) : nullptr;
    if (label == nullptr) {
        Complain(L"label not found: " + which);
        return kNotFound;
    }
    PostMessageW(label, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(1, 1));
    PostMessageW(label, WM_LBUTTONUP, 0, MAKELPARAM(1, 1));
    return kOk;
}

int Usage() {
    Complain(
        L"usage: kprobe launch <exe> <command-line tail> [<current folder>]\n"
        L"       kprobe state\n"
        L"       kprobe answer ok|yes|no|cancel\n"
        L"       kprobe close ch1|ch2\n"
        L"       kprobe press command2|an1\n"
        L"       kprobe click label2");
    return kUsage;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
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
    }
    return Usage();
}
