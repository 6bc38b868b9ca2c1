// The GTK thread of the companion's windows (see gtk_thread.h).
#include "gtk_thread.h"

#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

namespace kyro::platform::gtk {

namespace {

enum class State { NotStarted, Starting, Running, Failed, Ended };

// What the GTK thread and its callers share. One lock and one condition for all of it: the
// traffic is a few windows an hour.
struct Shared {
    std::mutex lock;
    std::condition_variable changed;
    State state = State::NotStarted;
    bool opened = false;  // GTK opened its display
};

// Never destroyed: the GTK thread may still be running while exit() destroys statics.
Shared& shared()
{
    static Shared* const instance = new Shared;
    return *instance;
}

// Opening a display takes milliseconds; one that does not answer must not hold up the
// companion for long.
constexpr auto kStartBound = std::chrono::seconds(10);

void setState(State state)
{
    Shared& s = shared();
    std::lock_guard<std::mutex> guard(s.lock);
    s.state = state;
    s.changed.notify_all();
}

// The companion writes nothing to its standard output or error; GTK, GLib and the
// accessibility bridge would (warnings about fonts, themes, a missing session bus).
GLogWriterOutput dropLogRecord(GLogLevelFlags, const GLogField*, gsize, gpointer)
{
    return G_LOG_WRITER_HANDLED;
}

void dropLogMessage(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

void dropPrint(const gchar*) {}

// The display connection broke (its server ended). GDK's own handler would end the process
// at once; instead GTK's main loop ends, and with it the GTK thread. Callers waiting for it
// are told, and nothing uses the connection again.
int endOnLostDisplay(Display*)
{
    setState(State::Ended);
    if (gtk_main_level() > 0)
        gtk_main_quit();
    return 0;
}

// Called after the handler above, where Xlib would end the process. Xlib took the display's
// user lock for the thread it expected to call exit(); released here, or a thread that
// touches the display later (libGLX does, while the process exits) would wait for ever.
void keepProcessOnLostDisplay(Display* display, void*)
{
    XUnlockDisplay(display);
}

void runGtk()
{
    g_log_set_writer_func(dropLogRecord, nullptr, nullptr);
    g_log_set_default_handler(dropLogMessage, nullptr);
    g_set_print_handler(dropPrint);
    g_set_printerr_handler(dropPrint);
    // GTK would otherwise call setlocale() for the whole process, under the feet of the
    // companion's other threads.
    gtk_disable_setlocale();
    // X11 first: there a window can be centred where the pointer is and kept on top.
    gdk_set_allowed_backends("x11,wayland");
    if (!gtk_init_check(nullptr, nullptr)) {
        setState(State::Failed);
        return;
    }
    GdkDisplay* display = gdk_display_get_default();
    if (display != nullptr && GDK_IS_X11_DISPLAY(display)) {
        XSetIOErrorHandler(endOnLostDisplay);
        XSetIOErrorExitHandler(GDK_DISPLAY_XDISPLAY(display), keepProcessOnLostDisplay, nullptr);
    }
    {
        Shared& s = shared();
        std::lock_guard<std::mutex> guard(s.lock);
        // A start that took longer than callers would wait stays a failure: the first
        // answer given is the answer for the life of the process.
        if (s.state != State::Starting)
            return;
        s.state = State::Running;
        s.opened = true;
        s.changed.notify_all();
    }
    gtk_main();
    setState(State::Ended);
}

gboolean runTask(gpointer data)
{
    (*static_cast<std::function<void()>*>(data))();
    return G_SOURCE_REMOVE;
}

void deleteTask(gpointer data)
{
    delete static_cast<std::function<void()>*>(data);
}

}  // namespace

namespace {

// Starts the GTK thread once and waits until it has either opened its display or failed.
// Called with the lock held.
void startOnce(std::unique_lock<std::mutex>& guard)
{
    Shared& s = shared();
    if (s.state == State::NotStarted) {
        s.state = State::Starting;
        try {
            std::thread(runGtk).detach();
        } catch (const std::system_error&) {
            s.state = State::Failed;
        }
    }
    if (!s.changed.wait_for(guard, kStartBound, [&s] { return s.state != State::Starting; }))
        s.state = State::Failed;
}

}  // namespace

bool gtkStarted()
{
    Shared& s = shared();
    std::unique_lock<std::mutex> guard(s.lock);
    startOnce(guard);
    return s.opened;
}

bool gtkRunning()
{
    Shared& s = shared();
    std::unique_lock<std::mutex> guard(s.lock);
    startOnce(guard);
    return s.state == State::Running;
}

bool runOnGtkThread(std::function<void()> work)
{
    if (!gtkRunning())
        return false;
    auto* task = new (std::nothrow) std::function<void()>(std::move(work));
    if (task == nullptr)
        return false;
    // Always through a source of the default context, never g_main_context_invoke(): that
    // runs the work on the calling thread whenever it can acquire the context.
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(source, runTask, task, deleteTask);
    g_source_attach(source, nullptr);
    g_source_unref(source);
    return true;
}

void Reply::give(int value)
{
    Shared& s = shared();
    std::lock_guard<std::mutex> guard(s.lock);
    if (m_given)
        return;
    m_given = true;
    m_value = value;
    s.changed.notify_all();
}

bool Reply::wait(int* value)
{
    Shared& s = shared();
    std::unique_lock<std::mutex> guard(s.lock);
    s.changed.wait(guard, [this, &s] { return m_given || s.state != State::Running; });
    if (!m_given)
        return false;
    *value = m_value;
    return true;
}

bool Reply::waitFor(std::chrono::milliseconds bound, int* value)
{
    Shared& s = shared();
    std::unique_lock<std::mutex> guard(s.lock);
    s.changed.wait_for(guard, bound, [this, &s] { return m_given || s.state != State::Running; });
    if (!m_given)
        return false;
    *value = m_value;
    return true;
}

}  // namespace kyro::platform::gtk
