// The host thread's own message queue, as a host's message loop uses it: one file per
// platform (the build picks it). POSIX has no thread message queues.
#ifndef KYRO_TESTS_DIALOGS_HOSTQUEUE_H
#define KYRO_TESTS_DIALOGS_HOSTQUEUE_H

// Whether threads have message queues here.
bool hostHasMessageQueue();

// Posts WM_QUIT with `exitCode` to the calling thread (PostQuitMessage).
void postQuit(int exitCode);

// Runs the calling thread's GetMessage loop until a WM_QUIT ends it, for at most `limitMs`:
// the quit's exit code, or -1 when none came in time (or there is no queue).
int runMessageLoop(unsigned limitMs);

#endif
