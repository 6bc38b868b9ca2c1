// Windows backend of the companion's windows: task dialogs (comctl32 6, which Vex.exe's
// manifest asks for) and two dialogs of our own built from an in-memory template.
//
// What a person (or a test reading the live window with EnumWindows, EnumChildWindows,
// GetClassNameW, GetDlgCtrlID and GetWindowTextW) finds:
//
// Error window: a task dialog (class "#32770") titled `caption`; its main instruction is
//   `title`, its content `text`, both "Static" controls. With a detail, an expando "Button"
//   labelled `detailsLabel` (the system's own label when that is empty) shows the detail in
//   another "Static" below the content; space or a click on it opens and closes it. One
//   "Button" `okButton` with id 100 (the system's OK, id 1, when `okButton` is empty).
//   Enter, space on the button, Esc and the close box all close it: the answer is 0.
// Choice window: a task dialog titled `caption`, main instruction `title`, two "Button"s:
//   `buttons[0]` with id 100 (answer 0) and `buttons[1]` with id 101 (answer 1); the one
//   named by `focusButton` has the focus and is the default, so Enter picks it. Esc and the
//   close box answer kWindowClosed. An empty button text shows as "OK" (first button) or
//   "Cancel" (second): a button must never be blank, and the first button is the one
//   that goes ahead by convention.
// Policy window: a dialog ("#32770") titled `caption`, top to bottom:
//   id 201 "Static" (owner-drawn, no text): the branding image, only when it decoded;
//   id 202 "Static" (owner-drawn, no text): the hero image, only when it decoded;
//   id 203 "Static": the heading, in a bold, larger font (hidden when empty);
//   id 204 "Edit": the policy text, read-only, multi-line, with a vertical scroll bar;
//   id 101 "Button": `agreeButton` (answer 1), the default, with the focus at the start;
//   id 100 "Button": `declineButton` (answer 0).
//   Tab moves between the text and the two buttons, Enter presses the focused button (in
//   the text: the default one), Esc and the close box answer 0. Images that are missing,
//   unreadable, not PNG/JPEG/BMP, over 64 MiB, over 16384 pixels a side or over 25
//   megapixels are left out without decoding their pixels.
// Wait window: a topmost dialog titled `caption` without a system menu or close box, on a
//   thread of its own: id 301 "Static" with `text` and id 302 "msctls_progress32" with a
//   moving marquee. Keys, Alt+F4 included, do nothing; only closeWaitWindow takes it away.
//
// Every window is centred on the work area of the screen that holds the pointer and brought
// to the front (the wait window leaves the focus where it is when another of this program's
// windows has it). Texts never make a window larger than that work area: the policy text
// scrolls; every other text is cut to what fits, ending in "…" (the controls then hold the
// cut text): task dialog texts are measured with the task dialog's own fonts at a width
// chosen for them (240 dialog units, 360 for long texts), the screen's height less the
// dialog's fixed parts shared among the texts with the details open; labels are kept to
// one line and half the window's width.
#include "kyro/platform/dialog_windows.h"

#include "windows_support.h"

#include <commctrl.h>
#include <wincodec.h>

#include <algorithm>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kyro::platform {

namespace {

// Button ids: 100 + the answer the button gives.
constexpr int kFirstButtonId = 100;
constexpr int kBrandingImageId = 201;
constexpr int kHeroImageId = 202;
constexpr int kHeadingId = 203;
constexpr int kPolicyTextId = 204;
constexpr int kWaitTextId = 301;
constexpr int kWaitProgressId = 302;

// Posted to our own dialogs once they are shown, and to the wait window to take it away.
constexpr UINT kBringForwardMessage = WM_APP + 1;
constexpr UINT kCloseWaitMessage = WM_APP + 2;
// Posted to a task dialog after an unanswered cancel (see taskDialogWindowEvents).
constexpr UINT kCancelCheckMessage = WM_APP + 3;

// How long showWaitWindow waits for its window and closeWaitWindow for its thread.
constexpr DWORD kWaitThreadTimeoutMs = 5000;

// Image limits: a file is refused before any pixel is decoded.

// Texts measured for cutting are first cut to this many UTF-16 units: no window shows more.
constexpr size_t kMeasuredTextLimit = 16384;
// The policy text handed to the edit control (it scrolls, but a huge text only slows it).
constexpr size_t kPolicyTextLimit = 1u << 20;
// Labels (buttons, the details control) are cut to fit half their window's width; more than
// this many units never fit.
constexpr size_t kLabelLimit = 512;

const wchar_t kEllipsis[] = L"\u2026";

// ---- Small helpers -------------------------------------------------------------------------

template <typename Function>
Function systemFunction(const wchar_t* module, const char* name)
{
    HMODULE handle = ::GetModuleHandleW(module);
    if (handle == nullptr)
        handle = ::LoadLibraryW(module);
    if (handle == nullptr)
        return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(handle, name)));
}

using TaskDialogIndirectFunction = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);
using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
using SystemParametersInfoForDpiFunction = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
using AdjustWindowRectExForDpiFunction = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
using SetDialogDpiChangeBehaviorFunction = BOOL(WINAPI*)(HWND, int, int);

// Task dialogs live in comctl32 version 6 only, which the program's manifest selects: looked
// up rather than imported, so that a program without the manifest still starts.
TaskDialogIndirectFunction taskDialogFunction()
{
    static const TaskDialogIndirectFunction function =
        systemFunction<TaskDialogIndirectFunction>(L"comctl32.dll", "TaskDialogIndirect");
    return function;
}

void initCommonControls()
{
    static std::once_flag once;
    std::call_once(once, [] {
        INITCOMMONCONTROLSEX controls = {};
        controls.dwSize = sizeof(controls);
        controls.dwICC = ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS;
        ::InitCommonControlsEx(&controls);
    });
}

std::wstring wide(const std::string& text)
{
    return win32::widen(text.c_str());
}

// Null for an empty text, so that the system leaves that part out or uses its own.
const wchar_t* orNull(const std::wstring& text)
{
    return text.empty() ? nullptr : text.c_str();
}

// The first `length` units of the text, never ending inside a surrogate pair.
std::wstring prefix(const std::wstring& text, size_t length)
{
    length = std::min(length, text.size());
    if (length > 0 && length < text.size() && IS_HIGH_SURROGATE(text[length - 1]))
        --length;
    return text.substr(0, length);
}

// The text cut at `length` units, trailing blanks dropped, with an ellipsis.
std::wstring cutWithEllipsis(const std::wstring& text, size_t length)
{
    std::wstring cut = prefix(text, length);
    while (!cut.empty() && (cut.back() == L' ' || cut.back() == L'\n' || cut.back() == L'\r' ||
                            cut.back() == L'\t'))
        cut.pop_back();
    return cut + kEllipsis;
}

std::wstring limitLength(const std::wstring& text, size_t limit)
{
    return text.size() <= limit ? text : cutWithEllipsis(text, limit);
}

// Line ends as the edit control wants them: CR LF.
std::wstring withCrLf(const std::wstring& text)
{
    std::wstring result;
    result.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L'\r') {
            result += L"\r\n";
            if (i + 1 < text.size() && text[i + 1] == L'\n')
                ++i;
        } else if (c == L'\n') {
            result += L"\r\n";
        } else {
            result += c;
        }
    }
    return result;
}

// Whether the text's first strongly directional character reads right to left.
bool readsRightToLeft(const std::wstring& text)
{
    const size_t length = std::min<size_t>(text.size(), 512);
    if (length == 0)
        return false;
    std::vector<WORD> types(length);
    if (!::GetStringTypeW(CT_CTYPE2, text.c_str(), static_cast<int>(length), types.data()))
        return false;
    for (WORD type : types) {
        if (type == C2_RIGHTTOLEFT)
            return true;
        if (type == C2_LEFTTORIGHT)
            return false;
    }
    return false;
}

UINT screenDpi()
{
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen != nullptr)
        ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

UINT windowDpi(HWND window)
{
    static const GetDpiForWindowFunction function =
        systemFunction<GetDpiForWindowFunction>(L"user32.dll", "GetDpiForWindow");
    if (function != nullptr && window != nullptr) {
        const UINT dpi = function(window);
        if (dpi != 0)
            return dpi;
    }
    return screenDpi();
}

int scaled(int value, UINT dpi)
{
    return ::MulDiv(value, static_cast<int>(dpi), 96);
}

// The system's message font at the given DPI.
LOGFONTW messageFont(UINT dpi)
{
    static const SystemParametersInfoForDpiFunction forDpi =
        systemFunction<SystemParametersInfoForDpiFunction>(L"user32.dll",
                                                           "SystemParametersInfoForDpi");
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    if (forDpi != nullptr &&
        forDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi))
        return metrics.lfMessageFont;
    if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
        LOGFONTW font = metrics.lfMessageFont;
        font.lfHeight = ::MulDiv(font.lfHeight, static_cast<int>(dpi),
                                 static_cast<int>(screenDpi()));
        return font;
    }
    LOGFONTW font = {};
    font.lfHeight = -::MulDiv(9, static_cast<int>(dpi), 72);
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    ::lstrcpynW(font.lfFaceName, L"Segoe UI", LF_FACESIZE);
    return font;
}

// The task dialog's main instruction font: the message font, bold and a quarter larger.
LOGFONTW headingFont(UINT dpi)
{
    LOGFONTW font = messageFont(dpi);
    font.lfHeight = font.lfHeight * 5 / 4;
    font.lfWeight = FW_BOLD;
    return font;
}

class Font {
public:
    Font() = default;
    explicit Font(const LOGFONTW& font) : handle_(::CreateFontIndirectW(&font)) {}
    ~Font() { reset(); }
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;
    Font(Font&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    Font& operator=(Font&& other) noexcept
    {
        if (this != &other) {
            reset();
            handle_ = other.handle_;
            other.handle_ = nullptr;
        }
        return *this;
    }
    HFONT get() const { return handle_; }
    void reset()
    {
        if (handle_ != nullptr)
            ::DeleteObject(handle_);
        handle_ = nullptr;
    }

private:
    HFONT handle_ = nullptr;
};

// A screen DC with a font selected, for measuring text.
class MeasuringContext {
public:
    explicit MeasuringContext(HFONT font) : dc_(::GetDC(nullptr))
    {
        if (dc_ != nullptr && font != nullptr)
            previous_ = ::SelectObject(dc_, font);
    }
    ~MeasuringContext()
    {
        if (dc_ == nullptr)
            return;
        if (previous_ != nullptr)
            ::SelectObject(dc_, previous_);
        ::ReleaseDC(nullptr, dc_);
    }
    MeasuringContext(const MeasuringContext&) = delete;
    MeasuringContext& operator=(const MeasuringContext&) = delete;

    // The height of the text wrapped at `width` pixels.
    int height(const std::wstring& text, int width, UINT flags = 0) const
    {
        if (dc_ == nullptr || text.empty())
            return 0;
        RECT rect = {0, 0, std::max(width, 1), 0};
        return ::DrawTextW(dc_, text.c_str(), static_cast<int>(text.size()), &rect,
                           DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_LEFT | flags);
    }
    SIZE extent(const std::wstring& text) const
    {
        SIZE size = {0, 0};
        if (dc_ != nullptr && !text.empty())
            ::GetTextExtentPoint32W(dc_, text.c_str(), static_cast<int>(text.size()), &size);
        return size;
    }
    int lineHeight() const
    {
        TEXTMETRICW metrics = {};
        if (dc_ == nullptr || !::GetTextMetricsW(dc_, &metrics))
            return 16;
        return metrics.tmHeight;
    }
    // The dialog base unit across: the average width of the alphabet, as dialogs compute it.
    int baseUnitX() const
    {
        const SIZE size = extent(L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
        return size.cx > 0 ? (size.cx / 26 + 1) / 2 : 6;
    }

private:
    HDC dc_;
    HGDIOBJ previous_ = nullptr;
};

// The longest start of the text that, with an ellipsis, wraps into `maxHeight` pixels at
// `width`; the text itself when it fits. Binary search over the length: the height grows
// with it.
std::wstring fitText(const MeasuringContext& measure, const std::wstring& text, int width,
                     int maxHeight, UINT flags = 0)
{
    const bool tooLong = text.size() > kMeasuredTextLimit;
    std::wstring candidate = tooLong ? prefix(text, kMeasuredTextLimit) : text;
    if (!tooLong && measure.height(candidate, width, flags) <= maxHeight)
        return candidate;
    size_t low = 0;
    size_t high = candidate.size();
    while (low < high) {
        const size_t middle = (low + high + 1) / 2;
        if (measure.height(cutWithEllipsis(candidate, middle), width, flags) <= maxHeight)
            low = middle;
        else
            high = middle - 1;
    }
    return cutWithEllipsis(candidate, low);
}

// A label on one line: line breaks and tabs become spaces.
std::wstring oneLine(std::wstring text)
{
    for (wchar_t& c : text) {
        if (c == L'\r' || c == L'\n' || c == L'\t')
            c = L' ';
    }
    return text;
}

// The label on one line, cut (ending in "…") to at most `maxWidth` pixels.
std::wstring fitLabel(const MeasuringContext& measure, const std::wstring& text, int maxWidth)
{
    const std::wstring line = oneLine(prefix(text, kLabelLimit));
    if (text.size() <= kLabelLimit && measure.extent(line).cx <= maxWidth)
        return line;
    size_t low = 0;
    size_t high = line.size();
    while (low < high) {
        const size_t middle = (low + high + 1) / 2;
        if (measure.extent(cutWithEllipsis(line, middle)).cx <= maxWidth)
            low = middle;
        else
            high = middle - 1;
    }
    return cutWithEllipsis(line, low);
}

// ---- Placing windows -----------------------------------------------------------------------

// The work area of the screen that holds the pointer.
RECT pointerWorkArea()
{
    POINT pointer = {0, 0};
    ::GetCursorPos(&pointer);
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    HMONITOR monitor = ::MonitorFromPoint(pointer, MONITOR_DEFAULTTOPRIMARY);
    if (monitor != nullptr && ::GetMonitorInfoW(monitor, &info))
        return info.rcWork;
    RECT area = {0, 0, 1024, 768};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    return area;
}

RECT windowWorkArea(HWND window)
{
    MONITORINFO info = {};
    info.cbSize = sizeof(info);
    HMONITOR monitor = ::MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST);
    if (monitor != nullptr && ::GetMonitorInfoW(monitor, &info))
        return info.rcWork;
    return pointerWorkArea();
}

int widthOf(const RECT& rect) { return rect.right - rect.left; }
int heightOf(const RECT& rect) { return rect.bottom - rect.top; }

// Centres the window in the area; one larger than the area keeps its top left corner inside.
void centreIn(HWND window, const RECT& area)
{
    RECT frame;
    if (!::GetWindowRect(window, &frame))
        return;
    const int x = area.left + std::max(0, (widthOf(area) - widthOf(frame)) / 2);
    const int y = area.top + std::max(0, (heightOf(area) - heightOf(frame)) / 2);
    ::SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Moves a window that has grown (details opened) back inside the area, as little as needed.
void keepInside(HWND window, const RECT& area)
{
    RECT frame;
    if (!::GetWindowRect(window, &frame))
        return;
    int x = std::min<LONG>(frame.left, area.right - widthOf(frame));
    int y = std::min<LONG>(frame.top, area.bottom - heightOf(frame));
    x = std::max<int>(x, area.left);
    y = std::max<int>(y, area.top);
    if (x != frame.left || y != frame.top)
        ::SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void bringToFront(HWND window)
{
    ::BringWindowToTop(window);
    ::SetForegroundWindow(window);
}

// ---- Task dialogs --------------------------------------------------------------------------

// The parts of a task dialog whose texts can be long, cut to fit the pointer's screen.
struct TaskDialogTexts {
    std::wstring instruction;
    std::wstring content;
    std::wstring detail;
    UINT widthDlu = 0;   // the dialog's width, in dialog units of the message font
};

// Cuts the texts so that the whole dialog, details opened, fits the work area. The dialog
// gets a width of its own choosing (240 dialog units, 360 for long texts, never more than
// four fifths of the screen), so the texts can be measured at the width they will wrap at.
// The work area's height, less the dialog's fixed parts, is shared among the texts: the
// shortest take what they need, the rest share what is left equally.
// Labels (button texts, the details control's) are cut to half the dialog's width.
TaskDialogTexts fitTaskDialog(std::wstring instruction, std::wstring content,
                              std::wstring detail, bool withIcon,
                              std::initializer_list<std::wstring*> labels)
{
    const RECT area = pointerWorkArea();
    const UINT dpi = screenDpi();
    const Font bodyFont(messageFont(dpi));
    const Font boldFont(headingFont(dpi));
    const MeasuringContext body(bodyFont.get());
    const MeasuringContext bold(boldFont.get());

    TaskDialogTexts texts;
    const int baseX = body.baseUnitX();
    const size_t total = instruction.size() + content.size() + detail.size();
    size_t lines = 0;
    for (const std::wstring* text : {&instruction, &content, &detail})
        lines += static_cast<size_t>(std::count(text->begin(), text->end(), L'\n'));
    int widthDlu = total > 600 || lines > 12 ? 360 : 240;
    const int maxWidth = widthOf(area) * 4 / 5;
    if (::MulDiv(widthDlu, baseX, 4) > maxWidth)
        widthDlu = std::max(1, maxWidth * 4 / baseX);
    texts.widthDlu = static_cast<UINT>(widthDlu);

    // Text width: the dialog's, less the icon and the margins, with a tenth to spare for
    // the wider margins some task dialogs draw.
    const int dialogWidth = ::MulDiv(widthDlu, baseX, 4);
    const int iconWidth = withIcon ? ::GetSystemMetrics(SM_CXICON) + scaled(12, dpi) : 0;
    const int textWidth =
        std::max(scaled(80, dpi), (dialogWidth - iconWidth - scaled(40, dpi)) * 9 / 10);

    // Fixed parts: title bar and frame, the buttons and the details control, spacing and
    // the band the buttons sit in.
    const int fixed = ::GetSystemMetrics(SM_CYCAPTION) + 2 * ::GetSystemMetrics(SM_CYFIXEDFRAME) +
                      scaled(240, dpi);
    int available = std::max(heightOf(area) - fixed, 3 * body.lineHeight());

    struct Part {
        std::wstring* text;
        const MeasuringContext* measure;
        int height;
    };
    std::vector<Part> parts;
    const auto add = [&](std::wstring* text, const MeasuringContext* measure) {
        if (text->empty())
            return;
        // Anything past the measured limit cannot fit; cut it before measuring.
        if (text->size() > kMeasuredTextLimit)
            *text = cutWithEllipsis(*text, kMeasuredTextLimit);
        parts.push_back({text, measure, measure->height(*text, textWidth)});
    };
    add(&instruction, &bold);
    add(&content, &body);
    add(&detail, &body);
    std::sort(parts.begin(), parts.end(),
              [](const Part& a, const Part& b) { return a.height < b.height; });
    size_t left = parts.size();
    for (Part& part : parts) {
        const int share = available / static_cast<int>(left--);
        const int granted = std::min(part.height, share);
        if (part.height > granted)
            *part.text = fitText(*part.measure, *part.text, textWidth, granted);
        available -= granted;
    }
    texts.instruction = std::move(instruction);
    texts.content = std::move(content);
    texts.detail = std::move(detail);
    for (std::wstring* label : labels)
        *label = fitLabel(body, *label, dialogWidth / 2 - scaled(24, dpi));
    return texts;
}

struct TaskDialogState {
    RECT area = {};
    bool checkedForeground = false;
    WNDPROC originalEvents = nullptr;
};

const wchar_t kTaskDialogStateProperty[] = L"KyroTaskDialogState";

// Esc and the close box reach a dialog as IDCANCEL from no control. A task dialog allowed to
// be cancelled ends on it by itself; implementations that leave it unanswered when there is
// no Cancel button are ended here, once the message has been handled and the dialog is
// still there.
LRESULT CALLBACK taskDialogWindowEvents(HWND window, UINT message, WPARAM wParam,
                                        LPARAM lParam)
{
    auto* state =
        static_cast<TaskDialogState*>(::GetPropW(window, kTaskDialogStateProperty));
    if (state == nullptr)
        return ::DefWindowProcW(window, message, wParam, lParam);
    const WNDPROC original = state->originalEvents;
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL && lParam == 0)
            ::PostMessageW(window, kCancelCheckMessage, 0, 0);
        break;
    case kCancelCheckMessage:
        ::EndDialog(window, IDCANCEL);
        return 0;
    case WM_NCDESTROY:
        ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
        ::RemovePropW(window, kTaskDialogStateProperty);
        break;
    default:
        break;
    }
    return ::CallWindowProcW(original, window, message, wParam, lParam);
}

// Some implementations draw the details control's label beside its arrow but size the
// control for the label alone, which cuts the label's last word: such a control (an
// owner-drawn "Button" child) is widened to hold both, as far as the buttons beside it let.
void widenDetailsControl(HWND dialog)
{
    RECT client;
    if (!::GetClientRect(dialog, &client))
        return;
    HWND expando = nullptr;
    for (HWND child = ::FindWindowExW(dialog, nullptr, L"Button", nullptr); child != nullptr;
         child = ::FindWindowExW(dialog, child, L"Button", nullptr)) {
        if ((::GetWindowLongPtrW(child, GWL_STYLE) & BS_TYPEMASK) == BS_OWNERDRAW) {
            expando = child;
            break;
        }
    }
    // The dialog itself may not be shown yet: the controls' own visibility counts.
    const auto shown = [](HWND control) {
        return (::GetWindowLongPtrW(control, GWL_STYLE) & WS_VISIBLE) != 0;
    };
    if (expando == nullptr || !shown(expando))
        return;
    RECT box;
    ::GetWindowRect(expando, &box);
    ::MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&box), 2);
    int limit = client.right - scaled(8, windowDpi(dialog));
    for (HWND child = ::FindWindowExW(dialog, nullptr, L"Button", nullptr); child != nullptr;
         child = ::FindWindowExW(dialog, child, L"Button", nullptr)) {
        RECT other;
        if (child == expando || !shown(child) || !::GetWindowRect(child, &other))
            continue;
        ::MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&other), 2);
        if (other.left >= box.left && other.top < box.bottom && other.bottom > box.top)
            limit = std::min<int>(limit, other.left - scaled(8, windowDpi(dialog)));
    }
    const int length = ::GetWindowTextLengthW(expando);
    std::wstring label(static_cast<size_t>(std::max(length, 0)) + 1, L'\0');
    label.resize(static_cast<size_t>(::GetWindowTextW(expando, &label[0], length + 1)));
    const MeasuringContext measure(
        reinterpret_cast<HFONT>(::SendMessageW(expando, WM_GETFONT, 0, 0)));
    const int baseX = measure.baseUnitX();
    // The arrow is 10 dialog units wide; a character's width between it and the label.
    const int wanted = ::MulDiv(10, baseX, 4) + baseX + measure.extent(label).cx;
    const int width = std::min(wanted, limit - static_cast<int>(box.left));
    if (width > widthOf(box))
        ::SetWindowPos(expando, nullptr, 0, 0, width, heightOf(box),
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

HRESULT CALLBACK taskDialogEvents(HWND window, UINT notification, WPARAM, LPARAM,
                                  LONG_PTR data)
{
    auto* state = reinterpret_cast<TaskDialogState*>(data);
    switch (notification) {
    case TDN_CREATED:
        if (::SetPropW(window, kTaskDialogStateProperty, state)) {
            state->originalEvents = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(
                window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(taskDialogWindowEvents)));
            if (state->originalEvents == nullptr)
                ::RemovePropW(window, kTaskDialogStateProperty);
        }
        widenDetailsControl(window);
        state->area = pointerWorkArea();
        centreIn(window, state->area);
        bringToFront(window);
        break;
    case TDN_EXPANDO_BUTTON_CLICKED:
        widenDetailsControl(window);
        keepInside(window, state->area);
        break;
    case TDN_TIMER:
        // The first tick comes once the dialog is on screen: if it did not reach the front
        // while it was being made, it goes there now.
        if (!state->checkedForeground) {
            state->checkedForeground = true;
            if (::GetForegroundWindow() != window)
                bringToFront(window);
        }
        break;
    default:
        break;
    }
    return S_OK;
}

void setIcon(TASKDIALOGCONFIG& config, int icon)
{
    switch (icon) {
    case kIconInformation: config.pszMainIcon = TD_INFORMATION_ICON; break;
    case kIconWarning: config.pszMainIcon = TD_WARNING_ICON; break;
    case kIconError: config.pszMainIcon = TD_ERROR_ICON; break;
    case kIconQuestion: {
        // Task dialogs have no question icon of their own: the system's, as a handle. It is
        // a shared icon, never destroyed.
        HICON question = ::LoadIconW(nullptr, IDI_QUESTION);
        if (question != nullptr) {
            config.hMainIcon = question;
            config.dwFlags |= TDF_USE_HICON_MAIN;
        }
        break;
    }
    default:
        break;
    }
}

bool hasIcon(int icon)
{
    return icon >= kIconInformation && icon <= kIconError;
}

// Runs the task dialog; the id of the button that ended it, or 0 when none could be shown.
// (Some implementations report a dialog that could not be made as success with button -1.)
int runTaskDialog(TASKDIALOGCONFIG& config)
{
    const TaskDialogIndirectFunction function = taskDialogFunction();
    if (function == nullptr)
        return 0;
    initCommonControls();
    TaskDialogState state;
    config.cbSize = sizeof(config);
    config.dwFlags |= TDF_ALLOW_DIALOG_CANCELLATION | TDF_CALLBACK_TIMER;
    config.pfCallback = taskDialogEvents;
    config.lpCallbackData = reinterpret_cast<LONG_PTR>(&state);
    int button = 0;
    if (FAILED(function(&config, &button, nullptr, nullptr)))
        return 0;
    return std::max(button, 0);
}

// ---- Images --------------------------------------------------------------------------------

template <typename Interface>
class ComRef {
public:
    ComRef() = default;
    ~ComRef() { reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    Interface* get() const { return pointer_; }
    Interface* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    Interface** put()
    {
        reset();
        return &pointer_;
    }
    void reset()
    {
        if (pointer_ != nullptr)
            pointer_->Release();
        pointer_ = nullptr;
    }

private:
    Interface* pointer_ = nullptr;
};

// COM on the calling thread for as long as the window lives; a thread that already has it
// (in either apartment model) keeps it as it was.
class ComScope {
public:
    ComScope()
    {
        const HRESULT result =
            ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
        initialized_ = SUCCEEDED(result);
    }
    ~ComScope()
    {
        if (initialized_)
            ::CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    bool initialized_ = false;
};

// A 32-bit premultiplied BGRA bitmap, drawn with its alpha over the window's background.
class Bitmap {
public:
    Bitmap() = default;
    ~Bitmap() { reset(); }
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;
    void reset(HBITMAP handle = nullptr, int width = 0, int height = 0)
    {
        if (handle_ != nullptr)
            ::DeleteObject(handle_);
        handle_ = handle;
        width_ = width;
        height_ = height;
    }
    HBITMAP get() const { return handle_; }
    int width() const { return width_; }
    int height() const { return height_; }

private:
    HBITMAP handle_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};

// Reads `size` bytes at `offset`; false when the file holds fewer.
bool readAt(HANDLE file, ULONGLONG offset, void* buffer, DWORD size)
{
    OVERLAPPED position = {};
    position.Offset = static_cast<DWORD>(offset);
    position.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    return ::ReadFile(file, buffer, size, &read, &position) && read == size;
}

UINT bigEndian16(const BYTE* bytes) { return (UINT{bytes[0]} << 8) | bytes[1]; }
UINT bigEndian32(const BYTE* bytes) { return (bigEndian16(bytes) << 16) | bigEndian16(bytes + 2); }
UINT littleEndian16(const BYTE* bytes) { return (UINT{bytes[1]} << 8) | bytes[0]; }
UINT littleEndian32(const BYTE* bytes)
{
    return (littleEndian16(bytes + 2) << 16) | littleEndian16(bytes);
}

// The size of a JPEG image from its frame header, found by walking the segments before it.
bool readJpegSize(HANDLE file, ULONGLONG fileSize, UINT& width, UINT& height)
{
    ULONGLONG offset = 2;   // after the start-of-image marker
    for (int step = 0; step < 65536 && offset < fileSize; ++step) {
        BYTE marker[2];
        if (!readAt(file, offset, marker, 2) || marker[0] != 0xFF)
            return false;
        if (marker[1] == 0xFF) {   // fill byte
            ++offset;
            continue;
        }
        const BYTE code = marker[1];
        offset += 2;
        if (code == 0x01 || (code >= 0xD0 && code <= 0xD8))
            continue;   // markers without a length
        if (code == 0xD9 || code == 0xDA)
            return false;   // the image ends, or its data starts, without a frame header
        BYTE segment[7];
        if (!readAt(file, offset, segment, 2))
            return false;
        const UINT length = bigEndian16(segment);
        if (length < 2)
            return false;
        // Start-of-frame markers: C0 to CF except C4 (tables), C8 (reserved), CC (coding).
        if (code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC) {
            if (length < 7 || !readAt(file, offset, segment, 7))
                return false;
            height = bigEndian16(segment + 3);
            width = bigEndian16(segment + 5);
            return true;
        }
        offset += length;
    }
    return false;
}

// The image's format and size from its first bytes, without decoding anything: some
// decoders decode a whole image as soon as they open it, so an oversized one is refused
// before any decoder sees it. PNG, JPEG and BMP only.
bool readImageSize(HANDLE file, ULONGLONG fileSize, UINT& width, UINT& height)
{
    BYTE header[26] = {};
    if (!readAt(file, 0, header, 2))
        return false;
    if (header[0] == 0xFF && header[1] == 0xD8)
        return readJpegSize(file, fileSize, width, height);
    if (!readAt(file, 0, header, sizeof(header)))
        return false;
    static const BYTE kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (std::equal(kPngSignature, kPngSignature + 8, header)) {
        if (std::string(reinterpret_cast<const char*>(header + 12), 4) != "IHDR")
            return false;
        width = bigEndian32(header + 16);
        height = bigEndian32(header + 20);
        return true;
    }
    if (header[0] == 'B' && header[1] == 'M') {
        const UINT infoSize = littleEndian32(header + 14);
        if (infoSize == 12) {   // the old core header: 16-bit sizes
            width = littleEndian16(header + 18);
            height = littleEndian16(header + 20);
            return true;
        }
        if (infoSize < 16)
            return false;
        const auto signedWidth = static_cast<LONG>(littleEndian32(header + 18));
        const auto signedHeight = static_cast<LONG>(littleEndian32(header + 22));
        // Negative heights are top-down images; the limit keeps the negation in range.
        if (signedWidth <= 0 || signedHeight == 0 ||
            signedHeight < -static_cast<LONG>(kMaxImageSide))
            return false;
        width = static_cast<UINT>(signedWidth);
        height = static_cast<UINT>(signedHeight < 0 ? -signedHeight : signedHeight);
        return true;
    }
    return false;
}

bool withinImageLimits(UINT width, UINT height)
{
    return width > 0 && height > 0 && width <= kMaxImageSide && height <= kMaxImageSide &&
           static_cast<ULONGLONG>(width) * height <= kMaxImagePixels;
}

// Whether the file is one we decode at all: a PNG, JPEG or BMP file within the size
// limits, judged by its header alone.
bool acceptableImageFile(const std::wstring& path)
{
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size = {};
    UINT width = 0;
    UINT height = 0;
    const bool acceptable =
        ::GetFileType(file) == FILE_TYPE_DISK && ::GetFileSizeEx(file, &size) &&
        size.QuadPart > 0 && static_cast<ULONGLONG>(size.QuadPart) <= kMaxImageFileBytes &&
        readImageSize(file, static_cast<ULONGLONG>(size.QuadPart), width, height) &&
        withinImageLimits(width, height);
    ::CloseHandle(file);
    return acceptable;
}

// An image file opened far enough to know its size: its pixels are decoded only by draw().
class ImageFile {
public:
    // False, and nothing kept, for a file that is missing, too large, of another format,
    // or whose header cannot be read or gives a size beyond the limits.
    bool open(IWICImagingFactory* factory, const std::wstring& path)
    {
        close();
        if (factory == nullptr || path.empty())
            return false;
        if (!acceptableImageFile(path))
            return false;
        if (FAILED(factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                                      WICDecodeMetadataCacheOnDemand,
                                                      decoder_.put())))
            return false;
        GUID format = {};
        if (FAILED(decoder_->GetContainerFormat(&format)) ||
            (format != GUID_ContainerFormatPng && format != GUID_ContainerFormatJpeg &&
             format != GUID_ContainerFormatBmp)) {
            close();
            return false;
        }
        UINT width = 0;
        UINT height = 0;
        if (FAILED(decoder_->GetFrame(0, frame_.put())) ||
            FAILED(frame_->GetSize(&width, &height)) || !withinImageLimits(width, height)) {
            close();
            return false;
        }
        factory->AddRef();
        *factory_.put() = factory;
        width_ = width;
        height_ = height;
        return true;
    }

    void close()
    {
        frame_.reset();
        decoder_.reset();
        factory_.reset();
        width_ = 0;
        height_ = 0;
    }

    bool isOpen() const { return static_cast<bool>(frame_); }
    UINT width() const { return width_; }
    UINT height() const { return height_; }

    // The image at the given size, or false when its pixels cannot be decoded.
    bool draw(int width, int height, Bitmap& bitmap) const
    {
        if (!frame_ || width <= 0 || height <= 0)
            return false;
        ComRef<IWICFormatConverter> converter;
        if (FAILED(factory_->CreateFormatConverter(converter.put())) ||
            FAILED(converter->Initialize(frame_.get(), GUID_WICPixelFormat32bppPBGRA,
                                         WICBitmapDitherTypeNone, nullptr, 0.0,
                                         WICBitmapPaletteTypeCustom)))
            return false;
        IWICBitmapSource* source = converter.get();
        ComRef<IWICBitmapScaler> scaler;
        if (static_cast<UINT>(width) != width_ || static_cast<UINT>(height) != height_) {
            if (FAILED(factory_->CreateBitmapScaler(scaler.put())) ||
                FAILED(scaler->Initialize(converter.get(), static_cast<UINT>(width),
                                          static_cast<UINT>(height),
                                          WICBitmapInterpolationModeFant)))
                return false;
            source = scaler.get();
        }
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;   // top-down rows, as WIC writes them
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* pixels = nullptr;
        HBITMAP handle = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
        if (handle == nullptr || pixels == nullptr) {
            if (handle != nullptr)
                ::DeleteObject(handle);
            return false;
        }
        const UINT stride = static_cast<UINT>(width) * 4;
        if (FAILED(source->CopyPixels(nullptr, stride, stride * static_cast<UINT>(height),
                                      static_cast<BYTE*>(pixels)))) {
            ::DeleteObject(handle);
            return false;
        }
        bitmap.reset(handle, width, height);
        return true;
    }

private:
    ComRef<IWICImagingFactory> factory_;
    ComRef<IWICBitmapDecoder> decoder_;
    ComRef<IWICBitmapFrameDecode> frame_;
    UINT width_ = 0;
    UINT height_ = 0;
};

// The size of an image scaled down (never up) to fit the box, keeping its aspect ratio.
SIZE fitImage(UINT width, UINT height, int maxWidth, int maxHeight)
{
    SIZE size = {0, 0};
    if (width == 0 || height == 0 || maxWidth <= 0 || maxHeight <= 0)
        return size;
    double scale = std::min(1.0, std::min(static_cast<double>(maxWidth) / width,
                                          static_cast<double>(maxHeight) / height));
    size.cx = std::max(1L, static_cast<LONG>(width * scale + 0.5));
    size.cy = std::max(1L, static_cast<LONG>(height * scale + 0.5));
    return size;
}

// ---- Dialogs of our own --------------------------------------------------------------------

// An in-memory dialog template without controls: the controls are made in WM_INITDIALOG,
// sized in pixels for the window's DPI.
std::vector<WORD> dialogTemplate(DWORD style, DWORD extendedStyle, const std::wstring& title)
{
    std::vector<WORD> words;
    const auto addLong = [&](DWORD value) {
        words.push_back(LOWORD(value));
        words.push_back(HIWORD(value));
    };
    addLong(style);
    addLong(extendedStyle);
    words.push_back(0);                     // no controls
    words.insert(words.end(), 4, 0);        // x, y, cx, cy: set once the layout is known
    words.push_back(0);                     // no menu
    words.push_back(0);                     // the standard dialog class
    for (wchar_t c : title)
        words.push_back(static_cast<WORD>(c));
    words.push_back(0);
    return words;
}

// Our dialogs lay themselves out again when their DPI changes, so the system must not
// rescale them as well.
void keepDialogScaling(HWND dialog)
{
    static const SetDialogDpiChangeBehaviorFunction function =
        systemFunction<SetDialogDpiChangeBehaviorFunction>(L"user32.dll",
                                                           "SetDialogDpiChangeBehavior");
    if (function != nullptr)
        function(dialog, 1 /* DDC_DISABLE_ALL */, 1);
}

struct FrameSize {
    int cx;
    int cy;
};

// The size of the window's frame around a client area, at its DPI.
FrameSize frameSize(HWND window, UINT dpi)
{
    static const AdjustWindowRectExForDpiFunction forDpi =
        systemFunction<AdjustWindowRectExForDpiFunction>(L"user32.dll",
                                                         "AdjustWindowRectExForDpi");
    const DWORD style = static_cast<DWORD>(::GetWindowLongPtrW(window, GWL_STYLE));
    const DWORD extendedStyle = static_cast<DWORD>(::GetWindowLongPtrW(window, GWL_EXSTYLE));
    RECT rect = {0, 0, 100, 100};
    if (forDpi == nullptr || !forDpi(&rect, style, FALSE, extendedStyle, dpi))
        ::AdjustWindowRectEx(&rect, style, FALSE, extendedStyle);
    return FrameSize{widthOf(rect) - 100, heightOf(rect) - 100};
}

// Sizes the window for the client area wanted and centres it in the area.
void placeDialog(HWND dialog, int clientWidth, int clientHeight, UINT dpi, const RECT& area)
{
    const FrameSize frame = frameSize(dialog, dpi);
    ::SetWindowPos(dialog, nullptr, 0, 0, clientWidth + frame.cx, clientHeight + frame.cy,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    centreIn(dialog, area);
}

// Moves the still empty dialog onto the pointer's screen, so that it takes that screen's DPI
// before it is laid out.
RECT moveToPointerScreen(HWND dialog)
{
    const RECT area = pointerWorkArea();
    ::SetWindowPos(dialog, nullptr, area.left + widthOf(area) / 2, area.top + heightOf(area) / 2,
                   0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return area;
}

HWND makeControl(HWND parent, int id, const wchar_t* className, const std::wstring& text,
                 DWORD style, DWORD extendedStyle = 0)
{
    return ::CreateWindowExW(extendedStyle, className, text.c_str(), WS_CHILD | style, 0, 0, 0, 0,
                             parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                             ::GetModuleHandleW(nullptr), nullptr);
}

void moveControl(HWND dialog, int id, int x, int y, int width, int height, bool visible = true)
{
    HWND control = ::GetDlgItem(dialog, id);
    if (control == nullptr)
        return;
    ::SetWindowPos(control, nullptr, x, y, std::max(width, 0), std::max(height, 0),
                   SWP_NOZORDER | SWP_NOACTIVATE | (visible ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
}

void setFont(HWND dialog, int id, HFONT font)
{
    HWND control = ::GetDlgItem(dialog, id);
    if (control != nullptr)
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

// ---- The policy window ---------------------------------------------------------------------

struct PolicyImage {
    int id = 0;
    int maxHeight = 0;   // at 96 DPI
    ImageFile file;
    Bitmap bitmap;
    bool failed = false;   // its pixels could not be decoded: left out from then on
};

struct PolicyState {
    std::wstring caption;
    std::wstring heading;
    std::wstring text;
    std::wstring agree;
    std::wstring decline;
    PolicyImage images[2];
    UINT dpi = 96;
    RECT area = {};
    Font font;
    Font headingFont;
};

// Lays the policy window out for its DPI and screen (see the top of this file):
// 1. The width is 560 pixels at 96 DPI, less when the screen is narrower.
// 2. Each image is scaled to fit the width and its own height limit; the heading takes what
//    it needs (at most a fifth of the screen); the text would like up to 20 lines.
// 3. When that is taller than the screen, the text gives up lines down to 8, then the
//    images shrink together (one below 24 pixels is left out), then the text gives up
//    lines down to 3.
// 4. Images are decoded at their final size; one that fails is left out and the layout
//    starts again.
void layoutPolicyWindow(HWND dialog, PolicyState& state)
{
    const UINT dpi = state.dpi;
    const auto px = [dpi](int value) { return scaled(value, dpi); };
    // The controls take the new fonts before the old ones go.
    Font font(messageFont(dpi));
    Font boldFont(headingFont(dpi));
    setFont(dialog, kHeadingId, boldFont.get());
    for (int id : {kPolicyTextId, kFirstButtonId, kFirstButtonId + 1})
        setFont(dialog, id, font.get());
    state.font = std::move(font);
    state.headingFont = std::move(boldFont);

    const FrameSize frame = frameSize(dialog, dpi);
    const int margin = px(12);
    const int gap = px(8);
    // A twentieth of the screen stays free around the window.
    const int maxClientWidth = std::max(px(160), widthOf(state.area) * 19 / 20 - frame.cx);
    const int maxClientHeight = std::max(px(160), heightOf(state.area) * 19 / 20 - frame.cy);
    const int clientWidth = std::min(px(560), maxClientWidth);
    const int contentWidth = clientWidth - 2 * margin;

    const MeasuringContext body(state.font.get());
    const MeasuringContext bold(state.headingFont.get());
    const int lineHeight = body.lineHeight();

    // Buttons, side by side at the right.
    const int buttonHeight = std::max(px(25), lineHeight + px(10));
    const int labelWidth = (contentWidth - gap) / 2 - px(24);
    const std::wstring agree = fitLabel(body, state.agree, labelWidth);
    const std::wstring decline = fitLabel(body, state.decline, labelWidth);
    ::SetDlgItemTextW(dialog, kFirstButtonId + 1, agree.c_str());
    ::SetDlgItemTextW(dialog, kFirstButtonId, decline.c_str());
    const int agreeWidth = std::max<int>(px(88), body.extent(agree).cx + px(24));
    const int declineWidth = std::max<int>(px(88), body.extent(decline).cx + px(24));

    // The heading takes at most a fifth of the screen; a longer one ends in "…".
    const std::wstring heading =
        fitText(bold, state.heading, contentWidth,
                std::max(bold.lineHeight(), maxClientHeight / 5), DT_EDITCONTROL | DT_NOPREFIX);
    ::SetDlgItemTextW(dialog, kHeadingId, heading.c_str());
    const int headingHeight =
        bold.height(heading, contentWidth, DT_EDITCONTROL | DT_NOPREFIX);
    const int scrollBar = ::GetSystemMetrics(SM_CXVSCROLL);
    const int textPadding = px(8);
    const int textMinHeight = 3 * lineHeight + textPadding;
    int textHeight = std::min(body.height(prefix(state.text, 4096),
                                          contentWidth - scrollBar - textPadding,
                                          DT_EDITCONTROL | DT_NOPREFIX) +
                                  textPadding,
                              20 * lineHeight + textPadding);
    textHeight = std::max(textHeight, 6 * lineHeight + textPadding);

    SIZE imageSizes[2] = {};
    int imagesHeight = 0;
    int imageCount = 0;
    for (int i = 0; i < 2; ++i) {
        const PolicyImage& image = state.images[i];
        if (!image.file.isOpen() || image.failed)
            continue;
        imageSizes[i] = fitImage(image.file.width(), image.file.height(), contentWidth,
                                 px(image.maxHeight));
        imagesHeight += imageSizes[i].cy;
        ++imageCount;
    }

    const int available = maxClientHeight - margin -
                          (headingHeight > 0 ? headingHeight + gap : 0) - gap - buttonHeight -
                          margin;
    if (imagesHeight + imageCount * gap + textHeight > available) {
        // The text keeps up to 8 lines while the images shrink; below 24 pixels an image
        // is left out, and the text takes what is left (at least 3 lines).
        const int wantedTextHeight = textHeight;
        textHeight = std::max(std::min(textHeight, 8 * lineHeight + textPadding),
                              available - imagesHeight - imageCount * gap);
        const int room = available - textHeight - imageCount * gap;
        if (imagesHeight > room) {
            const int fullHeight = imagesHeight;
            imagesHeight = 0;
            imageCount = 0;
            for (SIZE& size : imageSizes) {
                if (size.cy == 0)
                    continue;
                const int height = room > 0 ? ::MulDiv(size.cy, room, fullHeight) : 0;
                size = height >= px(24) ? fitImage(static_cast<UINT>(size.cx),
                                                   static_cast<UINT>(size.cy), contentWidth,
                                                   height)
                                        : SIZE{0, 0};
                if (size.cy > 0) {
                    imagesHeight += size.cy;
                    ++imageCount;
                }
            }
        }
        textHeight = std::max(textMinHeight, std::min(wantedTextHeight, available - imagesHeight -
                                                                             imageCount * gap));
    }

    for (int i = 0; i < 2; ++i) {
        PolicyImage& image = state.images[i];
        if (imageSizes[i].cy == 0) {
            image.bitmap.reset();
            continue;
        }
        if (image.bitmap.width() == imageSizes[i].cx && image.bitmap.height() == imageSizes[i].cy)
            continue;
        if (!image.file.draw(imageSizes[i].cx, imageSizes[i].cy, image.bitmap)) {
            image.failed = true;
            image.file.close();
            image.bitmap.reset();
            layoutPolicyWindow(dialog, state);
            return;
        }
    }

    int y = margin;
    for (int i = 0; i < 2; ++i) {
        const PolicyImage& image = state.images[i];
        const bool shown = image.bitmap.get() != nullptr;
        moveControl(dialog, image.id, margin, y, contentWidth, shown ? image.bitmap.height() : 0,
                    shown);
        if (shown)
            y += image.bitmap.height() + gap;
    }
    moveControl(dialog, kHeadingId, margin, y, contentWidth, headingHeight, headingHeight > 0);
    if (headingHeight > 0)
        y += headingHeight + gap;
    moveControl(dialog, kPolicyTextId, margin, y, contentWidth, textHeight);
    y += textHeight + gap + gap / 2;
    moveControl(dialog, kFirstButtonId + 1, clientWidth - margin - declineWidth - gap - agreeWidth,
                y, agreeWidth, buttonHeight);
    moveControl(dialog, kFirstButtonId, clientWidth - margin - declineWidth, y, declineWidth,
                buttonHeight);
    y += buttonHeight + margin;

    placeDialog(dialog, clientWidth, y, dpi, state.area);
    ::InvalidateRect(dialog, nullptr, TRUE);
}

void drawImage(const DRAWITEMSTRUCT& item, const Bitmap& bitmap)
{
    ::FillRect(item.hDC, &item.rcItem, ::GetSysColorBrush(COLOR_3DFACE));
    if (bitmap.get() == nullptr)
        return;
    HDC source = ::CreateCompatibleDC(item.hDC);
    if (source == nullptr)
        return;
    HGDIOBJ previous = ::SelectObject(source, bitmap.get());
    const int x = item.rcItem.left + (widthOf(item.rcItem) - bitmap.width()) / 2;
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    ::GdiAlphaBlend(item.hDC, x, item.rcItem.top, bitmap.width(), bitmap.height(), source, 0, 0,
                    bitmap.width(), bitmap.height(), blend);
    ::SelectObject(source, previous);
    ::DeleteDC(source);
}

// The policy text keeps its place when the focus comes to it: no select-all that would move
// the caret, and the view with it, to the end.
LRESULT CALLBACK policyTextEvents(HWND text, UINT message, WPARAM wParam, LPARAM lParam)
{
    const auto original = reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(text, GWLP_USERDATA));
    if (original == nullptr)
        return ::DefWindowProcW(text, message, wParam, lParam);
    const LRESULT result = ::CallWindowProcW(original, text, message, wParam, lParam);
    if (message == WM_GETDLGCODE)
        return result & ~static_cast<LRESULT>(DLGC_HASSETSEL);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(text, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
        ::SetWindowLongPtrW(text, GWLP_USERDATA, 0);
    }
    return result;
}

void makePolicyControls(HWND dialog, PolicyState& state)
{
    for (const PolicyImage& image : state.images)
        makeControl(dialog, image.id, L"Static", L"", SS_OWNERDRAW);
    const bool rightToLeft =
        readsRightToLeft(prefix(state.heading, 256) + L" " + prefix(state.text, 256));
    const DWORD readingOrder = rightToLeft ? WS_EX_RTLREADING | WS_EX_RIGHT : 0;
    makeControl(dialog, kHeadingId, L"Static", state.heading,
                (rightToLeft ? SS_RIGHT : SS_LEFT) | SS_NOPREFIX | SS_EDITCONTROL, readingOrder);
    HWND text = makeControl(dialog, kPolicyTextId, L"Edit", L"",
                            WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY |
                                ES_AUTOVSCROLL | (rightToLeft ? ES_RIGHT : ES_LEFT),
                            WS_EX_CLIENTEDGE | readingOrder);
    if (text != nullptr) {
        ::SendMessageW(text, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);
        ::SetWindowTextW(text, state.text.c_str());
        ::SetWindowLongPtrW(text, GWLP_USERDATA,
                            ::SetWindowLongPtrW(text, GWLP_WNDPROC,
                                                reinterpret_cast<LONG_PTR>(policyTextEvents)));
    }
    makeControl(dialog, kFirstButtonId + 1, L"Button", state.agree,
                WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON);
    makeControl(dialog, kFirstButtonId, L"Button", state.decline,
                WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON);
}

INT_PTR CALLBACK policyWindowEvents(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* state = reinterpret_cast<PolicyState*>(::GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        state = reinterpret_cast<PolicyState*>(lParam);
        ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        keepDialogScaling(dialog);
        state->area = moveToPointerScreen(dialog);
        state->dpi = windowDpi(dialog);
        makePolicyControls(dialog, *state);
        layoutPolicyWindow(dialog, *state);
        ::SendMessageW(dialog, DM_SETDEFID, kFirstButtonId + 1, 0);
        ::SetFocus(::GetDlgItem(dialog, kFirstButtonId + 1));
        bringToFront(dialog);
        ::PostMessageW(dialog, kBringForwardMessage, 0, 0);
        return FALSE;   // the focus is set
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case kFirstButtonId + 1: ::EndDialog(dialog, 1); return TRUE;
        case kFirstButtonId:
        case IDCANCEL: ::EndDialog(dialog, 0); return TRUE;
        default: return FALSE;
        }
    case WM_CLOSE:
        ::EndDialog(dialog, 0);
        return TRUE;
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (state == nullptr || item == nullptr)
            return FALSE;
        for (const PolicyImage& image : state->images) {
            if (static_cast<int>(item->CtlID) == image.id) {
                drawImage(*item, image.bitmap);
                return TRUE;
            }
        }
        return FALSE;
    }
    case WM_CTLCOLORSTATIC:
        // The read-only text keeps the colours of a page to read, not of a disabled field.
        if (reinterpret_cast<HWND>(lParam) == ::GetDlgItem(dialog, kPolicyTextId)) {
            HDC dc = reinterpret_cast<HDC>(wParam);
            ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
            ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
            return reinterpret_cast<INT_PTR>(::GetSysColorBrush(COLOR_WINDOW));
        }
        return FALSE;
    case WM_DPICHANGED:
        if (state != nullptr) {
            state->dpi = HIWORD(wParam);
            const auto* suggested = reinterpret_cast<const RECT*>(lParam);
            if (suggested != nullptr) {
                MONITORINFO info = {};
                info.cbSize = sizeof(info);
                HMONITOR monitor = ::MonitorFromRect(suggested, MONITOR_DEFAULTTONEAREST);
                if (monitor != nullptr && ::GetMonitorInfoW(monitor, &info))
                    state->area = info.rcWork;
            }
            layoutPolicyWindow(dialog, *state);
        }
        return TRUE;
    case kBringForwardMessage:
        if (::GetForegroundWindow() != dialog)
            bringToFront(dialog);
        return TRUE;
    default:
        return FALSE;
    }
}

// ---- The wait window -----------------------------------------------------------------------

// Shared by the caller and the window's thread: whichever lets go last frees it.
struct WaitState {
    std::wstring caption;
    std::wstring text;
    std::mutex mutex;
    HWND window = nullptr;      // set by the thread once the window exists
    bool abandoned = false;     // the caller stopped waiting for the window
    HANDLE ready = nullptr;     // signalled once the window exists or could not be made
    HANDLE thread = nullptr;
    Font font;

    ~WaitState()
    {
        if (ready != nullptr)
            ::CloseHandle(ready);
        if (thread != nullptr)
            ::CloseHandle(thread);
    }
};

void layoutWaitWindow(HWND dialog, WaitState& state)
{
    const UINT dpi = windowDpi(dialog);
    const auto px = [dpi](int value) { return scaled(value, dpi); };
    const RECT area = windowWorkArea(dialog);
    Font font(messageFont(dpi));
    setFont(dialog, kWaitTextId, font.get());
    state.font = std::move(font);

    const FrameSize frame = frameSize(dialog, dpi);
    const int margin = px(12);
    const int clientWidth = std::min(px(360), std::max(px(120), widthOf(area) - frame.cx));
    const int contentWidth = clientWidth - 2 * margin;
    const MeasuringContext body(state.font.get());
    // The text takes at most half the screen; a longer one ends in "…".
    const std::wstring text =
        fitText(body, state.text, contentWidth,
                std::max(body.lineHeight(), (heightOf(area) - frame.cy) / 2),
                DT_EDITCONTROL | DT_NOPREFIX);
    ::SetDlgItemTextW(dialog, kWaitTextId, text.c_str());
    const int textHeight = body.height(text, contentWidth, DT_EDITCONTROL | DT_NOPREFIX);
    const int barHeight = px(16);

    int y = margin;
    moveControl(dialog, kWaitTextId, margin, y, contentWidth, textHeight, textHeight > 0);
    if (textHeight > 0)
        y += textHeight + px(10);
    moveControl(dialog, kWaitProgressId, margin, y, contentWidth, barHeight);
    y += barHeight + margin;
    placeDialog(dialog, clientWidth, y, dpi, area);
}

INT_PTR CALLBACK waitWindowEvents(HWND dialog, UINT message, WPARAM, LPARAM lParam)
{
    auto* state = reinterpret_cast<WaitState*>(::GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        state = reinterpret_cast<WaitState*>(lParam);
        ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        keepDialogScaling(dialog);
        moveToPointerScreen(dialog);
        const bool rightToLeft = readsRightToLeft(state->text);
        makeControl(dialog, kWaitTextId, L"Static", state->text,
                    WS_VISIBLE | (rightToLeft ? SS_RIGHT : SS_LEFT) | SS_NOPREFIX | SS_EDITCONTROL,
                    rightToLeft ? WS_EX_RTLREADING | WS_EX_RIGHT : 0);
        HWND progress = makeControl(dialog, kWaitProgressId, PROGRESS_CLASSW, L"",
                                    WS_VISIBLE | PBS_MARQUEE);
        if (progress != nullptr)
            ::SendMessageW(progress, PBM_SETMARQUEE, TRUE, 30);
        layoutWaitWindow(dialog, *state);
        return TRUE;
    }
    case WM_CLOSE:
    case WM_COMMAND:
        // Neither Alt+F4 nor Esc takes it away: only closeWaitWindow does.
        return TRUE;
    case WM_DPICHANGED:
        if (state != nullptr)
            layoutWaitWindow(dialog, *state);
        return TRUE;
    case kCloseWaitMessage:
        ::DestroyWindow(dialog);
        return TRUE;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return FALSE;
    default:
        return FALSE;
    }
}

DWORD WINAPI waitWindowThread(void* parameter)
{
    std::unique_ptr<std::shared_ptr<WaitState>> owner(
        static_cast<std::shared_ptr<WaitState>*>(parameter));
    WaitState& state = **owner;
    initCommonControls();
    const std::vector<WORD> layout =
        dialogTemplate(WS_POPUP | WS_CAPTION | WS_BORDER | DS_MODALFRAME,
                       WS_EX_TOPMOST | WS_EX_DLGMODALFRAME, state.caption);
    HWND window = ::CreateDialogIndirectParamW(
        ::GetModuleHandleW(nullptr), reinterpret_cast<const DLGTEMPLATE*>(layout.data()),
        nullptr, waitWindowEvents, reinterpret_cast<LPARAM>(&state));
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (window != nullptr && state.abandoned) {
            ::DestroyWindow(window);
            window = nullptr;
        }
        state.window = window;
        ::SetEvent(state.ready);
    }
    if (window == nullptr)
        return 0;
    // Topmost, so in front in any case; it takes the focus too, unless another of this
    // program's windows has it: a question being answered keeps its keys.
    ::SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    DWORD foregroundProcess = 0;
    HWND foreground = ::GetForegroundWindow();
    if (foreground != nullptr)
        ::GetWindowThreadProcessId(foreground, &foregroundProcess);
    if (foreground == nullptr || foregroundProcess != ::GetCurrentProcessId())
        bringToFront(window);
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    if (::IsWindow(window))
        ::DestroyWindow(window);
    return 0;
}

// The wait windows shown and not yet closed, by id. An id not in here is ignored.
std::mutex& waitWindowsMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::map<WaitWindowId, std::shared_ptr<WaitState>>& waitWindows()
{
    static std::map<WaitWindowId, std::shared_ptr<WaitState>> windows;
    return windows;
}

}  // namespace

bool dialogWindowsAvailable()
{
    static const bool available = [] {
        if (::GetDesktopWindow() == nullptr || taskDialogFunction() == nullptr)
            return false;
        // A window station without a display (a service's) cannot show anything.
        USEROBJECTFLAGS flags = {};
        HWINSTA station = ::GetProcessWindowStation();
        if (station != nullptr &&
            ::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), nullptr) &&
            (flags.dwFlags & WSF_VISIBLE) == 0)
            return false;
        // Making a window tells for certain: without a display it fails at once.
        HWND probe = ::CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                       ::GetModuleHandleW(nullptr), nullptr);
        if (probe == nullptr)
            return false;
        ::DestroyWindow(probe);
        return true;
    }();
    return available;
}

int showErrorWindow(const ErrorWindow& window)
{
    const std::wstring caption = wide(window.caption);
    std::wstring label = wide(window.detailsLabel);
    std::wstring okText = wide(window.okButton);
    const TaskDialogTexts texts =
        fitTaskDialog(wide(window.title), wide(window.text), wide(window.detail),
                      hasIcon(window.icon), {&label, &okText});

    TASKDIALOGCONFIG config = {};
    config.pszWindowTitle = orNull(caption);
    config.pszMainInstruction = orNull(texts.instruction);
    config.pszContent = orNull(texts.content);
    config.cxWidth = texts.widthDlu;
    if (!texts.detail.empty()) {
        config.pszExpandedInformation = texts.detail.c_str();
        config.pszCollapsedControlText = orNull(label);
    }
    setIcon(config, window.icon);
    TASKDIALOG_BUTTON button = {kFirstButtonId, okText.c_str()};
    if (okText.empty()) {
        config.dwCommonButtons = TDCBF_OK_BUTTON;
        config.nDefaultButton = IDOK;
    } else {
        config.pButtons = &button;
        config.cButtons = 1;
        config.nDefaultButton = kFirstButtonId;
    }
    return runTaskDialog(config) > 0 ? 0 : kNoWindow;
}

int showChoiceWindow(const ChoiceWindow& window)
{
    const std::wstring caption = wide(window.caption);
    std::wstring labels[2] = {wide(window.buttons[0]), wide(window.buttons[1])};
    if (labels[0].empty())
        labels[0] = L"OK";
    if (labels[1].empty())
        labels[1] = L"Cancel";
    const TaskDialogTexts texts =
        fitTaskDialog(wide(window.title), std::wstring(), std::wstring(), hasIcon(window.icon),
                      {&labels[0], &labels[1]});

    TASKDIALOGCONFIG config = {};
    config.pszWindowTitle = orNull(caption);
    config.pszMainInstruction = orNull(texts.instruction);
    config.cxWidth = texts.widthDlu;
    setIcon(config, window.icon);
    const TASKDIALOG_BUTTON buttons[2] = {{kFirstButtonId, labels[0].c_str()},
                                          {kFirstButtonId + 1, labels[1].c_str()}};
    config.pButtons = buttons;
    config.cButtons = 2;
    config.nDefaultButton = kFirstButtonId + (window.focusButton == 1 ? 1 : 0);
    const int pressed = runTaskDialog(config);
    if (pressed <= 0)
        return kNoWindow;
    if (pressed == kFirstButtonId || pressed == kFirstButtonId + 1)
        return pressed - kFirstButtonId;
    return kWindowClosed;
}

int showPolicyWindow(const PolicyWindow& window)
{
    initCommonControls();
    const ComScope com;
    PolicyState state;
    state.caption = wide(window.caption);
    state.heading = limitLength(wide(window.heading), kMeasuredTextLimit);
    state.text = withCrLf(limitLength(wide(window.text), kPolicyTextLimit));
    state.agree = limitLength(wide(window.agreeButton), kLabelLimit);
    state.decline = limitLength(wide(window.declineButton), kLabelLimit);
    if (state.agree.empty())
        state.agree = L"OK";
    if (state.decline.empty())
        state.decline = L"Cancel";
    state.images[0].id = kBrandingImageId;
    state.images[0].maxHeight = 160;
    state.images[1].id = kHeroImageId;
    state.images[1].maxHeight = 240;
    if (!window.brandingImagePath.empty() || !window.heroImagePath.empty()) {
        ComRef<IWICImagingFactory> factory;
        if (SUCCEEDED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IWICImagingFactory,
                                         reinterpret_cast<void**>(factory.put())))) {
            state.images[0].file.open(factory.get(), wide(window.brandingImagePath));
            state.images[1].file.open(factory.get(), wide(window.heroImagePath));
        }
    }

    const std::vector<WORD> layout = dialogTemplate(
        WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFOREGROUND,
        WS_EX_DLGMODALFRAME | WS_EX_APPWINDOW, state.caption);
    const INT_PTR answer = ::DialogBoxIndirectParamW(
        ::GetModuleHandleW(nullptr), reinterpret_cast<const DLGTEMPLATE*>(layout.data()), nullptr,
        policyWindowEvents, reinterpret_cast<LPARAM>(&state));
    for (PolicyImage& image : state.images) {
        image.bitmap.reset();
        image.file.close();
    }
    if (answer == 1)
        return 1;
    if (answer == 0)
        return 0;
    return kNoWindow;
}

WaitWindowId showWaitWindow(const WaitWindow& window)
{
    auto state = std::make_shared<WaitState>();
    state->caption = wide(window.caption);
    state->text = limitLength(wide(window.text), kMeasuredTextLimit);
    state->ready = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (state->ready == nullptr)
        return nullptr;
    auto* owner = new std::shared_ptr<WaitState>(state);
    HANDLE thread = ::CreateThread(nullptr, 0, waitWindowThread, owner, 0, nullptr);
    if (thread == nullptr) {
        delete owner;
        return nullptr;
    }
    const bool ready = ::WaitForSingleObject(state->ready, kWaitThreadTimeoutMs) == WAIT_OBJECT_0;
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        if (!ready || state->window == nullptr) {
            // The thread ends by itself (taking any late window with it) and frees its share.
            state->abandoned = true;
            ::CloseHandle(thread);
            return nullptr;
        }
    }
    state->thread = thread;
    const WaitWindowId id = state.get();
    std::lock_guard<std::mutex> lock(waitWindowsMutex());
    waitWindows()[id] = state;
    return id;
}

void closeWaitWindow(WaitWindowId id)
{
    if (id == nullptr)
        return;
    std::shared_ptr<WaitState> state;
    {
        std::lock_guard<std::mutex> lock(waitWindowsMutex());
        const auto found = waitWindows().find(id);
        if (found == waitWindows().end())
            return;
        state = found->second;
        waitWindows().erase(found);
    }
    if (!::PostMessageW(state->window, kCloseWaitMessage, 0, 0))
        ::PostThreadMessageW(::GetThreadId(state->thread), WM_QUIT, 0, 0);
    ::WaitForSingleObject(state->thread, kWaitThreadTimeoutMs);
}

}  // namespace kyro::platform
