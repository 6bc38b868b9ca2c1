// Linux backend of the companion's windows: GTK 3. Every window is built, shown and taken
// away on the GTK thread (gtk_thread.h); the calling thread waits for the person's answer.
// Images are decoded on the calling thread, so that a large one holds up no other window.
// Built as a module of its own, which Vex.exe loads when it first needs a window
// (gtk_module.h).
#include "gtk_module.h"
#include "gtk_thread.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include <X11/Xatom.h>
#include <gdk/gdkx.h>
#include <glib/gstdio.h>
#include <gtk/gtk.h>
#include <sys/stat.h>

namespace kyro::platform::gtk {

namespace {

// Images: checked from the file's size and header before anything is decoded.
constexpr int kImageMaxWidth = 520;
constexpr int kBrandingMaxHeight = 160;
constexpr int kHeroMaxHeight = 240;
constexpr int kMinImageSide = 16;         // smaller than this, an image is left out
constexpr int kPolicyFixedHeight = 320;   // the policy window without its images, at most

// Layout, in pixels unless said otherwise.
constexpr int kTextWidthChars = 70;     // a wrapped text's widest line, in characters
constexpr int kButtonMaxWidth = 300;    // longer button texts are cut short with an ellipsis
constexpr int kScreenMargin = 24;       // kept free on each side of the monitor's work area
constexpr int kDetailWidth = 400;
constexpr int kPolicyWidth = 520;
constexpr int kMessageMaxHeight = 360;  // the main instruction and its text, before scrolling
constexpr int kDetailMinHeight = 80;
constexpr int kDetailMaxHeight = 240;
constexpr int kPolicyMinHeight = 120;
constexpr int kPolicyMaxHeight = 260;
constexpr int kWaitWidth = 360;
constexpr int kLongTextWidth = 440;
constexpr int kLongTextMinHeight = 60;
constexpr double kHeadingScale = 1.2;
// Longer texts go to a text view: a wrapping label lays out its whole text again on every
// size request (seconds for 64 KiB), and grows the window rather than scroll.
constexpr std::size_t kLabelMaxBytes = 1024;
constexpr std::size_t kLabelLineBytes = 60;   // the least a label's line holds, in bytes
constexpr std::size_t kLabelLineHeight = 24;  // the most a label's line takes, headings too
constexpr int kPulseMs = 100;

// How long a caller waits for the GTK thread to put up or take down a wait window, and how
// long the GTK thread waits for the window to be mapped before it answers anyway.
constexpr auto kWaitWindowBound = std::chrono::seconds(10);
constexpr guint kMapBoundMs = 2000;

// GTK takes UTF-8 only; anything else shows as U+FFFD.
std::string utf8(const std::string& text)
{
    gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    std::string result(valid);
    g_free(valid);
    return result;
}

std::string orDefault(const std::string& text, const char* fallback)
{
    return text.empty() ? std::string(fallback) : text;
}

// ---- images (calling thread) ----

// Decodes an image scaled down to fit `maxWidth` x `maxHeight`, or null: no path, not a
// regular file, too large, not PNG, JPEG or BMP, or undecodable. The limits are checked
// before decoding, so an oversized image costs a header read only.
GdkPixbuf* loadImage(const std::string& path, int maxWidth, int maxHeight)
{
    if (path.empty())
        return nullptr;
    GStatBuf status;
    if (g_stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
        static_cast<std::uint64_t>(status.st_size) > kMaxImageFileBytes)
        return nullptr;
    int width = 0;
    int height = 0;
    GdkPixbufFormat* format = gdk_pixbuf_get_file_info(path.c_str(), &width, &height);
    if (format == nullptr || width <= 0 || height <= 0 ||
        static_cast<std::uint32_t>(width) > kMaxImageSide ||
        static_cast<std::uint32_t>(height) > kMaxImageSide ||
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > kMaxImagePixels)
        return nullptr;
    gchar* formatName = gdk_pixbuf_format_get_name(format);
    const std::string name = formatName != nullptr ? formatName : "";
    g_free(formatName);
    if (name != "png" && name != "jpeg" && name != "bmp")
        return nullptr;
    const double scale = std::min({1.0, static_cast<double>(maxWidth) / width,
                                   static_cast<double>(maxHeight) / height});
    const int targetWidth = std::max(1, static_cast<int>(width * scale + 0.5));
    const int targetHeight = std::max(1, static_cast<int>(height * scale + 0.5));
    GError* error = nullptr;
    GdkPixbuf* image =
        gdk_pixbuf_new_from_file_at_scale(path.c_str(), targetWidth, targetHeight, TRUE, &error);
    if (error != nullptr)
        g_error_free(error);
    return image;
}

// Owns a decoded image until the window that shows it has taken its own reference.
struct ImageRef {
    explicit ImageRef(GdkPixbuf* image) : pixbuf(image) {}
    ImageRef(const ImageRef&) = delete;
    ImageRef& operator=(const ImageRef&) = delete;
    ~ImageRef()
    {
        if (pixbuf != nullptr)
            g_object_unref(pixbuf);
    }
    GdkPixbuf* pixbuf;
};

// ---- building blocks (GTK thread) ----

// An image, scaled down further when it must fit a smaller space than it was decoded for;
// null when there is no image or no room worth showing it in.
GtkWidget* imageWidget(GdkPixbuf* pixbuf, int maxWidth, int maxHeight)
{
    if (pixbuf == nullptr)
        return nullptr;
    const int width = gdk_pixbuf_get_width(pixbuf);
    const int height = gdk_pixbuf_get_height(pixbuf);
    const double scale = std::min({1.0, static_cast<double>(maxWidth) / width,
                                   static_cast<double>(maxHeight) / height});
    if (scale >= 1.0)
        return gtk_image_new_from_pixbuf(pixbuf);
    const int targetWidth = static_cast<int>(width * scale);
    const int targetHeight = static_cast<int>(height * scale);
    if (targetWidth < kMinImageSide || targetHeight < kMinImageSide)
        return nullptr;
    GdkPixbuf* scaled =
        gdk_pixbuf_scale_simple(pixbuf, targetWidth, targetHeight, GDK_INTERP_BILINEAR);
    if (scaled == nullptr)
        return nullptr;
    GtkWidget* image = gtk_image_new_from_pixbuf(scaled);
    g_object_unref(scaled);
    return image;
}

// The work area of the monitor that holds the pointer: where the window is centred, and
// what it must fit in.
GdkRectangle pointerWorkarea()
{
    GdkRectangle area{0, 0, 1024, 768};
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr)
        return area;
    GdkMonitor* monitor = nullptr;
    GdkSeat* seat = gdk_display_get_default_seat(display);
    GdkDevice* pointer = seat != nullptr ? gdk_seat_get_pointer(seat) : nullptr;
    if (pointer != nullptr) {
        int x = 0;
        int y = 0;
        gdk_device_get_position(pointer, nullptr, &x, &y);
        monitor = gdk_display_get_monitor_at_point(display, x, y);
    }
    if (monitor == nullptr)
        monitor = gdk_display_get_primary_monitor(display);
    if (monitor == nullptr && gdk_display_get_n_monitors(display) > 0)
        monitor = gdk_display_get_monitor(display, 0);
    if (monitor != nullptr)
        gdk_monitor_get_workarea(monitor, &area);
    return area;
}

int usableWidth(const GdkRectangle& area)
{
    return std::max(160, area.width - 2 * kScreenMargin);
}

int usableHeight(const GdkRectangle& area)
{
    return std::max(120, area.height - 2 * kScreenMargin);
}

// Once mapped, the window asks for the keyboard focus: without a window manager nothing
// else would give it.
gboolean focusWhenMapped(GtkWidget* window, GdkEvent*, gpointer)
{
    gtk_window_present(GTK_WINDOW(window));
    return FALSE;
}

// GDK writes the legacy title property (WM_NAME, which xdotool and older window managers
// read) in the process's own encoding only, and the process locale here stays "C": a title
// beyond Latin-1 would have none. It is written as UTF-8 instead, as other toolkits do.
void setLegacyTitle(GtkWidget* widget, gpointer)
{
    GdkWindow* window = gtk_widget_get_window(widget);
    const char* title = gtk_window_get_title(GTK_WINDOW(widget));
    if (window == nullptr || !GDK_IS_X11_WINDOW(window) || title == nullptr)
        return;
    bool latin1 = true;
    for (const char* at = title; *at != '\0' && latin1; at = g_utf8_next_char(at))
        latin1 = g_utf8_get_char(at) < 0x100;
    if (latin1)
        return;
    GdkDisplay* display = gdk_window_get_display(window);
    XChangeProperty(GDK_DISPLAY_XDISPLAY(display), GDK_WINDOW_XID(window), XA_WM_NAME,
                    gdk_x11_get_xatom_by_name_for_display(display, "UTF8_STRING"), 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(title),
                    static_cast<int>(std::strlen(title)));
}

// What every window shares: titled by its caption, never larger than the monitor's work
// area, centred on it (again whenever its size changes, as when the details open), on top.
void prepareWindow(GtkWindow* window, const std::string& caption, const GdkRectangle& area)
{
    gtk_window_set_title(window, utf8(caption).c_str());
    GdkGeometry limits{};
    limits.max_width = usableWidth(area);
    limits.max_height = usableHeight(area);
    gtk_window_set_geometry_hints(window, nullptr, &limits, GDK_HINT_MAX_SIZE);
    gtk_window_set_position(window, GTK_WIN_POS_CENTER_ALWAYS);
    gtk_window_set_keep_above(window, TRUE);
    g_signal_connect(window, "map-event", G_CALLBACK(focusWhenMapped), nullptr);
    g_signal_connect(window, "realize", G_CALLBACK(setLegacyTitle), nullptr);
}

// A text that may be long: wraps at words (inside a word when it must), each paragraph
// aligned to the start of its own writing direction.
GtkWidget* textLabel(const std::string& text)
{
    GtkWidget* widget = gtk_label_new(utf8(text).c_str());
    GtkLabel* label = GTK_LABEL(widget);
    gtk_label_set_line_wrap(label, TRUE);
    gtk_label_set_line_wrap_mode(label, PANGO_WRAP_WORD_CHAR);
    gtk_label_set_max_width_chars(label, kTextWidthChars);
    gtk_label_set_xalign(label, 0.0f);
    gtk_label_set_yalign(label, 0.0f);
    return widget;
}

// The main instruction: bold and larger.
GtkWidget* headingLabel(const std::string& text)
{
    GtkWidget* widget = textLabel(text);
    PangoAttrList* attributes = pango_attr_list_new();
    pango_attr_list_insert(attributes, pango_attr_weight_new(PANGO_WEIGHT_BOLD));
    pango_attr_list_insert(attributes, pango_attr_scale_new(kHeadingScale));
    gtk_label_set_attributes(GTK_LABEL(widget), attributes);
    pango_attr_list_unref(attributes);
    return widget;
}

// A read-only, wrapping text view: for texts that are long by nature, and any text too long
// for a label.
GtkWidget* textView(const std::string& text, bool heading = false)
{
    GtkWidget* widget = gtk_text_view_new();
    GtkTextView* view = GTK_TEXT_VIEW(widget);
    gtk_text_view_set_editable(view, FALSE);
    gtk_text_view_set_cursor_visible(view, FALSE);
    gtk_text_view_set_wrap_mode(view, GTK_WRAP_WORD_CHAR);
    gtk_text_view_set_left_margin(view, 6);
    gtk_text_view_set_right_margin(view, 6);
    gtk_text_view_set_top_margin(view, 4);
    gtk_text_view_set_bottom_margin(view, 4);
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(view);
    gtk_text_buffer_set_text(buffer, utf8(text).c_str(), -1);
    if (heading) {
        GtkTextTag* tag = gtk_text_buffer_create_tag(buffer, nullptr, "weight", PANGO_WEIGHT_BOLD,
                                                     "scale", kHeadingScale, nullptr);
        GtkTextIter start;
        GtkTextIter end;
        gtk_text_buffer_get_bounds(buffer, &start, &end);
        gtk_text_buffer_apply_tag(buffer, tag, &start, &end);
    }
    return widget;
}

// Scrolls `child` vertically once it is taller than `maxHeight`; never horizontally, so
// that what it holds wraps to the width it is given.
GtkWidget* scroller(GtkWidget* child, int minHeight, int maxHeight, int minWidth, bool framed)
{
    GtkWidget* widget = gtk_scrolled_window_new(nullptr, nullptr);
    GtkScrolledWindow* scroll = GTK_SCROLLED_WINDOW(widget);
    gtk_scrolled_window_set_policy(scroll, GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
    // A scroll bar that is always drawn tells the person that there is more to read.
    gtk_scrolled_window_set_overlay_scrolling(scroll, FALSE);
    gtk_scrolled_window_set_propagate_natural_width(scroll, TRUE);
    gtk_scrolled_window_set_propagate_natural_height(scroll, TRUE);
    // Without horizontal scrolling the scroller takes its child's width, so the child is
    // the one that asks for it.
    if (minWidth > 0)
        gtk_widget_set_size_request(child, minWidth, -1);
    gtk_scrolled_window_set_min_content_height(scroll, std::min(minHeight, maxHeight));
    gtk_scrolled_window_set_max_content_height(scroll, maxHeight);
    if (framed)
        gtk_scrolled_window_set_shadow_type(scroll, GTK_SHADOW_IN);
    // Tab goes to what is inside (a text view scrolls with the keys), not to the frame.
    gtk_widget_set_can_focus(widget, FALSE);
    gtk_container_add(GTK_CONTAINER(widget), child);
    // Room the window has beyond what it asked for goes to the text views, never between
    // the lines of a label.
    gtk_widget_set_vexpand(widget, framed);
    return widget;
}

const char* iconName(int icon)
{
    switch (icon) {
    case kIconInformation: return "dialog-information";
    case kIconQuestion: return "dialog-question";
    case kIconWarning: return "dialog-warning";
    case kIconError: return "dialog-error";
    default: return nullptr;
    }
}

// The widest a button's text may be, with `count` buttons in a row.
int buttonWidth(const GdkRectangle& area, int count)
{
    return std::max(40, std::min(kButtonMaxWidth, usableWidth(area) / count - 48));
}

// A dialog of our own making: its buttons below the content, whatever the desktop's
// preference for header bars.
GtkDialog* newDialog()
{
    return GTK_DIALOG(g_object_new(GTK_TYPE_DIALOG, "use-header-bar", FALSE, nullptr));
}

// A button that shows its text as given (no mnemonic underscores), cut short with an
// ellipsis only beyond `maxWidth` pixels.
GtkWidget* addButton(GtkDialog* dialog, const std::string& text, int response, int maxWidth)
{
    const std::string shown = utf8(text);
    GtkWidget* button = gtk_button_new_with_label(shown.c_str());
    gtk_widget_set_can_default(button, TRUE);
    gtk_dialog_add_action_widget(dialog, button, response);
    GtkWidget* label = gtk_bin_get_child(GTK_BIN(button));
    if (label != nullptr && GTK_IS_LABEL(label)) {
        // The button row sizes buttons by their smallest width, which for a label that may
        // be cut short is the ellipsis alone: ask for the text's own width instead.
        PangoLayout* layout = gtk_widget_create_pango_layout(label, shown.c_str());
        int width = 0;
        pango_layout_get_pixel_size(layout, &width, nullptr);
        g_object_unref(layout);
        // One line, whatever the text holds (a line break shows as a mark), cut short when
        // too long.
        gtk_label_set_single_line_mode(GTK_LABEL(label), TRUE);
        gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
        gtk_widget_set_size_request(label, std::min(width, maxWidth), -1);
    }
    return button;
}

// The content beside the icon: an icon column on the left (when there is one) and the
// given box of texts on the right.
GtkWidget* withIcon(int icon, GtkWidget* texts)
{
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
    if (const char* name = iconName(icon)) {
        GtkWidget* image = gtk_image_new_from_icon_name(name, GTK_ICON_SIZE_DIALOG);
        gtk_widget_set_valign(image, GTK_ALIGN_START);
        gtk_box_pack_start(GTK_BOX(row), image, FALSE, FALSE, 0);
    }
    gtk_widget_set_hexpand(texts, TRUE);
    gtk_box_pack_start(GTK_BOX(row), texts, TRUE, TRUE, 0);
    return row;
}

// Whether a text, as a wrapping label, is sure to fit in `maxHeight` pixels: counted at
// the worst as a line per line break and per kLabelLineBytes.
bool fitsLabel(const std::string& text, int maxHeight)
{
    if (text.size() > kLabelMaxBytes)
        return false;
    const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) +
                       text.size() / kLabelLineBytes + 1;
    return lines * kLabelLineHeight <= static_cast<std::size_t>(maxHeight);
}

// A text of any length, `heading` or not, never taller than `maxHeight`: a label when it
// surely fits, else a framed text view `width` wide that scrolls.
GtkWidget* textBlock(const std::string& text, bool heading, int width, int maxHeight)
{
    if (fitsLabel(text, maxHeight)) {
        GtkWidget* label = heading ? headingLabel(text) : textLabel(text);
        // GTK sizes a window for its content's smallest width, which for a wrapping label is
        // a column of single letters. The label asks for the width it needs instead: its
        // text's own (with a margin for measuring before the theme applies), up to `width`.
        PangoLayout* layout =
            gtk_widget_create_pango_layout(label, gtk_label_get_text(GTK_LABEL(label)));
        pango_layout_set_attributes(layout, gtk_label_get_attributes(GTK_LABEL(label)));
        int textWidth = 0;
        pango_layout_get_pixel_size(layout, &textWidth, nullptr);
        g_object_unref(layout);
        gtk_widget_set_size_request(label, std::min(textWidth + textWidth / 10 + 4, width), -1);
        return label;
    }
    return scroller(textView(text, heading), kLongTextMinHeight, maxHeight, width, true);
}

// The main instruction and the text below it (when there is one), together no taller than
// half the monitor before they scroll.
GtkWidget* messageBlock(const std::string& title, const std::string& text,
                        const GdkRectangle& area, int width)
{
    const int maxHeight = std::min(kMessageMaxHeight, usableHeight(area) / 2);
    if (text.empty())
        return textBlock(title, true, width, maxHeight);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
    gtk_box_pack_start(GTK_BOX(box), textBlock(title, true, width, maxHeight / 3), FALSE, FALSE,
                       0);
    gtk_box_pack_start(GTK_BOX(box), textBlock(text, false, width, maxHeight * 2 / 3), FALSE,
                       FALSE, 0);
    return box;
}

// Hands the dialog's answer to the waiting caller: the button's own answer, or
// `closedAnswer` for Esc and the close box. The caller is answered even when the window
// goes away some other way.
struct DialogAnswer {
    ReplyPtr reply;
    int closedAnswer;
};

void onResponse(GtkDialog* dialog, gint response, gpointer data)
{
    auto* answer = static_cast<DialogAnswer*>(data);
    answer->reply->give(response >= 0 ? response : answer->closedAnswer);
    gtk_widget_destroy(GTK_WIDGET(dialog));
}

void forgetAnswer(gpointer data, GClosure*)
{
    auto* answer = static_cast<DialogAnswer*>(data);
    answer->reply->give(answer->closedAnswer);
    delete answer;
}

// Shows a finished dialog: `focus` gets the keyboard focus and answers Enter.
void showDialog(GtkDialog* dialog, GtkWidget* focus, int response, const ReplyPtr& reply,
                int closedAnswer)
{
    g_signal_connect_data(dialog, "response", G_CALLBACK(onResponse),
                          new DialogAnswer{reply, closedAnswer}, forgetAnswer, GConnectFlags{});
    GtkWidget* content = gtk_dialog_get_content_area(dialog);
    gtk_container_set_border_width(GTK_CONTAINER(content), 12);
    gtk_box_set_spacing(GTK_BOX(content), 12);
    gtk_widget_show_all(GTK_WIDGET(dialog));
    gtk_dialog_set_default_response(dialog, response);
    gtk_widget_grab_default(focus);
    gtk_widget_grab_focus(focus);
    // Show from the start which button Enter and Space press.
    gtk_window_set_focus_visible(GTK_WINDOW(dialog), TRUE);
    gtk_window_present(GTK_WINDOW(dialog));
}

// Runs `build` on the GTK thread and waits for the person's answer.
int askPerson(std::function<void(const ReplyPtr&)> build)
{
    auto reply = std::make_shared<Reply>();
    if (!runOnGtkThread([reply, build] { build(reply); }))
        return kNoWindow;
    int answer = kNoWindow;
    return reply->wait(&answer) ? answer : kNoWindow;
}

// ---- the wait window ----

struct WaitRecord {
    GtkWidget* window = nullptr;  // GTK thread only
};

// The wait windows shown and not yet closed, by id. Never destroyed, like the GTK thread.
struct WaitRegistry {
    std::mutex lock;
    std::map<void*, std::shared_ptr<WaitRecord>> windows;
};

WaitRegistry& waitRegistry()
{
    static WaitRegistry* const instance = new WaitRegistry;
    return *instance;
}

gboolean pulse(gpointer bar)
{
    gtk_progress_bar_pulse(GTK_PROGRESS_BAR(bar));
    return G_SOURCE_CONTINUE;
}

void stopPulse(GtkWidget*, gpointer timer)
{
    g_source_remove(GPOINTER_TO_UINT(timer));
}

gboolean refuseClose(GtkWidget*, GdkEvent*, gpointer)
{
    return TRUE;
}

// The wait window's caller is answered once the window is mapped, or after a bound.
gboolean answerShown(gpointer data)
{
    static_cast<ReplyPtr*>(data)->get()->give(1);
    return G_SOURCE_REMOVE;
}

gboolean answerMapped(GtkWidget*, GdkEvent*, gpointer data)
{
    static_cast<ReplyPtr*>(data)->get()->give(1);
    return FALSE;
}

void deleteReply(gpointer data)
{
    delete static_cast<ReplyPtr*>(data);
}

void deleteReplyClosure(gpointer data, GClosure*)
{
    delete static_cast<ReplyPtr*>(data);
}

void buildWaitWindow(const WaitWindow& request, const std::shared_ptr<WaitRecord>& record,
                     const ReplyPtr& reply)
{
    const GdkRectangle area = pointerWorkarea();
    GtkWidget* widget = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWindow* window = GTK_WINDOW(widget);
    prepareWindow(window, request.caption, area);
    gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_deletable(window, FALSE);
    gtk_window_set_resizable(window, FALSE);
    g_signal_connect(widget, "delete-event", G_CALLBACK(refuseClose), nullptr);

    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
    gtk_container_set_border_width(GTK_CONTAINER(box), 18);
    const int width = std::min(kWaitWidth, usableWidth(area) - 36);
    GtkWidget* text =
        textBlock(request.text, false, width, std::min(kMessageMaxHeight, usableHeight(area) / 2));
    gtk_widget_set_size_request(text, width, -1);
    gtk_box_pack_start(GTK_BOX(box), text, FALSE, FALSE, 0);
    GtkWidget* bar = gtk_progress_bar_new();
    gtk_progress_bar_set_pulse_step(GTK_PROGRESS_BAR(bar), 0.05);
    gtk_box_pack_start(GTK_BOX(box), bar, FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(widget), box);

    const guint timer = g_timeout_add(kPulseMs, pulse, bar);
    g_signal_connect(bar, "destroy", G_CALLBACK(stopPulse), GUINT_TO_POINTER(timer));

    g_signal_connect_data(widget, "map-event", G_CALLBACK(answerMapped), new ReplyPtr(reply),
                          deleteReplyClosure, GConnectFlags{});
    g_timeout_add_full(G_PRIORITY_DEFAULT, kMapBoundMs, answerShown, new ReplyPtr(reply),
                       deleteReply);
    record->window = widget;
    gtk_widget_show_all(widget);
    gtk_window_present(window);
}

// Takes the window away (GTK thread).
void destroyWaitWindow(WaitRecord& record)
{
    if (record.window != nullptr)
        gtk_widget_destroy(record.window);
    record.window = nullptr;
}

}  // namespace

bool dialogWindowsAvailable()
{
    return gtkStarted();
}

int showErrorWindow(const ErrorWindow& window)
{
    return askPerson([window](const ReplyPtr& reply) {
        const GdkRectangle area = pointerWorkarea();
        GtkDialog* dialog = newDialog();
        prepareWindow(GTK_WINDOW(dialog), window.caption, area);

        GtkWidget* texts = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
        const int width = std::min(kLongTextWidth, usableWidth(area) - 96);
        gtk_box_pack_start(GTK_BOX(texts), messageBlock(window.title, window.text, area, width),
                           FALSE, FALSE, 0);
        if (!window.detail.empty()) {
            GtkWidget* expander =
                gtk_expander_new(utf8(orDefault(window.detailsLabel, "Details")).c_str());
            const int width = std::min(kDetailWidth, usableWidth(area) - 96);
            const int maxHeight = std::min(kDetailMaxHeight, usableHeight(area) / 3);
            gtk_container_add(GTK_CONTAINER(expander),
                              scroller(textView(window.detail), kDetailMinHeight, maxHeight,
                                       width, true));
            gtk_box_pack_start(GTK_BOX(texts), expander, FALSE, FALSE, 0);
        }
        gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(dialog)),
                           withIcon(window.icon, texts), TRUE, TRUE, 0);

        GtkWidget* ok = addButton(dialog, orDefault(window.okButton, "OK"), 0, buttonWidth(area, 1));
        showDialog(dialog, ok, 0, reply, 0);
    });
}

int showChoiceWindow(const ChoiceWindow& window)
{
    return askPerson([window](const ReplyPtr& reply) {
        const GdkRectangle area = pointerWorkarea();
        GtkDialog* dialog = newDialog();
        prepareWindow(GTK_WINDOW(dialog), window.caption, area);
        gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(dialog)),
                           withIcon(window.icon,
                                    messageBlock(window.title, "", area,
                                                 std::min(kLongTextWidth, usableWidth(area) - 96))),
                           FALSE, FALSE, 0);
        GtkWidget* buttons[2] = {addButton(dialog, window.buttons[0], 0, buttonWidth(area, 2)),
                                 addButton(dialog, window.buttons[1], 1, buttonWidth(area, 2))};
        const int focus = window.focusButton == 1 ? 1 : 0;
        showDialog(dialog, buttons[focus], focus, reply, kWindowClosed);
    });
}

int showPolicyWindow(const PolicyWindow& window)
{
    if (!gtkRunning())
        return kNoWindow;
    auto branding = std::make_shared<ImageRef>(
        loadImage(window.brandingImagePath, kImageMaxWidth, kBrandingMaxHeight));
    auto hero =
        std::make_shared<ImageRef>(loadImage(window.heroImagePath, kImageMaxWidth, kHeroMaxHeight));
    return askPerson([window, branding, hero](const ReplyPtr& reply) {
        const GdkRectangle area = pointerWorkarea();
        GtkDialog* dialog = newDialog();
        prepareWindow(GTK_WINDOW(dialog), window.caption, area);
        GtkWidget* content = gtk_dialog_get_content_area(dialog);
        // On a small monitor the images give way to the text and the buttons.
        const int imagesHeight = usableHeight(area) - kPolicyFixedHeight;
        const int imageWidth = std::min(kImageMaxWidth, usableWidth(area) - 24);
        const struct {
            GdkPixbuf* pixbuf;
            int maxHeight;
        } images[] = {
            {branding->pixbuf, std::min(kBrandingMaxHeight, imagesHeight * 2 / 5)},
            {hero->pixbuf, std::min(kHeroMaxHeight, imagesHeight * 3 / 5)},
        };
        for (const auto& image : images) {
            if (GtkWidget* widget = imageWidget(image.pixbuf, imageWidth, image.maxHeight))
                gtk_box_pack_start(GTK_BOX(content), widget, FALSE, FALSE, 0);
        }
        const int width = std::min(kPolicyWidth, usableWidth(area) - 24);
        gtk_box_pack_start(GTK_BOX(content),
                           textBlock(window.heading, true, width,
                                     std::min(kMessageMaxHeight, usableHeight(area) / 6)),
                           FALSE, FALSE, 0);
        const int maxHeight = std::min(kPolicyMaxHeight, usableHeight(area) / 3);
        gtk_box_pack_start(GTK_BOX(content),
                           scroller(textView(window.text), kPolicyMinHeight, maxHeight, width,
                                    true),
                           TRUE, TRUE, 0);
        addButton(dialog, window.declineButton, 0, buttonWidth(area, 2));
        GtkWidget* agree = addButton(dialog, window.agreeButton, 1, buttonWidth(area, 2));
        showDialog(dialog, agree, 1, reply, 0);
    });
}

WaitWindowId showWaitWindow(const WaitWindow& window)
{
    auto record = std::make_shared<WaitRecord>();
    auto reply = std::make_shared<Reply>();
    if (!runOnGtkThread([window, record, reply] { buildWaitWindow(window, record, reply); }))
        return nullptr;
    int shown = 0;
    if (!reply->waitFor(kWaitWindowBound, &shown)) {
        // Too late or never: whatever the GTK thread may still put up goes away again.
        runOnGtkThread([record] { destroyWaitWindow(*record); });
        return nullptr;
    }
    WaitRegistry& registry = waitRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    registry.windows[record.get()] = record;
    return record.get();
}

void closeWaitWindow(WaitWindowId id)
{
    if (id == nullptr)
        return;
    std::shared_ptr<WaitRecord> record;
    {
        WaitRegistry& registry = waitRegistry();
        std::lock_guard<std::mutex> guard(registry.lock);
        auto found = registry.windows.find(id);
        if (found == registry.windows.end())
            return;
        record = found->second;
        registry.windows.erase(found);
    }
    auto reply = std::make_shared<Reply>();
    if (!runOnGtkThread([record, reply] {
            destroyWaitWindow(*record);
            reply->give(0);
        }))
        return;
    int done = 0;
    reply->waitFor(kWaitWindowBound, &done);
}

}  // namespace kyro::platform::gtk

extern "C" __attribute__((visibility("default"))) const kyro::platform::gtk::ModuleEntries*
kyroGtkWindowsEntries(int version)
{
    using namespace kyro::platform::gtk;
    static const ModuleEntries entries = {dialogWindowsAvailable, showErrorWindow,
                                          showChoiceWindow,       showPolicyWindow,
                                          showWaitWindow,         closeWaitWindow};
    return version == kModuleVersion ? &entries : nullptr;
}
