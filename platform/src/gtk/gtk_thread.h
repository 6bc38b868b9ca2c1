// The GTK thread of the companion's windows. GTK may be used from one thread only, so one
// thread of our own opens the display and runs GTK's main loop for the life of the process;
// every other thread hands it work and waits for the answer here.
//
// The thread is never joined: the companion may end with exit() at any moment, and nothing
// here has a static destructor that could run while the thread still uses it.
#ifndef KYRO_PLATFORM_GTK_THREAD_H
#define KYRO_PLATFORM_GTK_THREAD_H

#include <chrono>
#include <functional>
#include <memory>

namespace kyro::platform::gtk {

// Starts the GTK thread on first use and waits (bounded) until GTK has opened its display.
// True when it did, whatever happened since; the first answer stands.
bool gtkStarted();

// As gtkStarted(), but false once the GTK thread has ended (its display went away).
bool gtkRunning();

// Runs `work` on the GTK thread. False (and `work` never runs) when GTK is not running.
bool runOnGtkThread(std::function<void()> work);

// An answer the GTK thread hands back to one waiting caller.
class Reply {
public:
    // GTK thread: stores the answer and wakes the caller.
    void give(int value);
    // Caller: waits without a time limit (a person may take hours). False when the GTK
    // thread ended before answering.
    bool wait(int* value);
    // Caller: as wait(), at most `bound` long; false on time-out as well.
    bool waitFor(std::chrono::milliseconds bound, int* value);

private:
    bool m_given = false;
    int m_value = 0;
};

// Shared between the caller and the GTK thread, so that either may give up on the other.
using ReplyPtr = std::shared_ptr<Reply>;

}  // namespace kyro::platform::gtk

#endif
