/* kyroint: what a host application calls.
 *
 * Plain C functions, callable from C and C++, with UTF-8 texts. None of them throws, none
 * writes to the host's standard output or error (except the start-up's own messages
 * about the custom environment file), and none ends the host. Failures are answered by
 * the return value and recorded in the error log (see kyrointSetErrorLogFile).
 *
 * A host typically:
 *
 *     if (!kyrointStartUp()) ...                    // custom environment, PATH, markers
 *     kyrointSetErrorLogFile("C:\\ProgramData\\Host\\errors.log");
 *     kyrointSetLocale("de_DE");
 *     kyrointSetResourceFolder("C:\\Program Files\\Host\\res");
 *     kyrointSetIdleHook(onIdle, host);             // while the library waits for a dialog
 *     ...
 *     char caption[256];
 *     kyrointGetString("IDS_ERROR_DIALOG_CAPTION", caption, sizeof caption);
 *     kyrointShowErrorDialog(caption, title, detail, 4);
 *
 * The dialogs are shown by the companion program Vex.exe, which the library starts from
 * its companion folder when a request finds it not running; each request waits for the
 * person's answer, keeping the calling thread's windows alive meanwhile. Requests from
 * several threads of one host take turns.
 */
#ifndef KYRO_KYROINT_H
#define KYRO_KYROINT_H

#include "kyro/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Start-up ---------------------------------------------------------------------- */

/* The library's start-up, once, before anything else: reads the custom environment file
 * that NORVELDT_KYRO_THINCLIENT_ENV or NORVELDT_KYRO_CUSTOM_ENV names, puts the library's
 * folder on PATH when no such file is in force, and writes the performance markers
 * "KYROINITIALIZE.START" and ".STOP" (while KYRO_PERF_LOG is set). 1 on success; 0 when a
 * named custom environment file cannot be read or parsed (the library then must not be
 * used). */
KYRO_EXPORT int kyrointStartUp(void);

/* How the custom environment file was found: -1 not looked for yet, 0 read and in force,
 * 1 none named, 2 the thin-client file (NORVELDT_KYRO_THINCLIENT_ENV) could not be read,
 * 3 the custom file (NORVELDT_KYRO_CUSTOM_ENV) could not be read. */
KYRO_EXPORT int kyrointCustomEnvironmentStatus(void);

/* "15.0.73.0". */
KYRO_EXPORT const char* kyrointVersion(void);

/* ---- Diagnostics ------------------------------------------------------------------------ */

/* The records the exported logger classes write (kyro/diagnostics/KyroLogger.h), for hosts
 * that cannot call C++ built by another compiler: each function writes exactly the lines
 * the C++ logger writes for the same record, stamped with the process id, date and time.
 *
 * `vendor` is the reporting component (Kyro::VendorID): 1 this library, 2 the companion,
 * 3 the host application, 4 to 10 other components. Any other number is written as it is
 * and shown in debug and performance lines as "None".
 *
 * Texts are UTF-8. A text that is not well-formed UTF-8 is refused: the call writes nothing
 * and returns 0. None of these functions waits longer than the loggers' 10 s for a log
 * file's named mutex. */

/* Names the error log's file: the file of the process-wide error logger
 * (KyroLogger::instance_m()), which the library's own error records go to as well. Until a
 * file is named, error records go nowhere. 1 when named; 0 for a null or empty path or one
 * that is not UTF-8 (the file named before, if any, stays). */
KYRO_EXPORT int kyrointSetErrorLogFile(const char* path);

/* Writes an error record (KyroErrorBase: reason "Fatal error", the computer name and the
 * system version, "File" = the base name of `sourceFile` after its last backslash and
 * "Line", the vendor and its status described from the error table, and the vendor's
 * version text) to the error log. A null `sourceFile` or `version` is taken as empty.
 * 1 when the record was handed to the error logger (it is written unless the file cannot
 * be opened); 0 when no error log file is named or a text is not UTF-8. */
KYRO_EXPORT int kyrointLogError(int vendor, int status, const char* sourceFile, int line,
                                const char* version);

/* Writes a debug line (KyroDebugLog: the vendor's display name, then `text`) to the per-user
 * debug log "KyroDebug.log", while the environment variable KYRO_DEBUG_MODE is set. 1 when
 * the line was handed to the debug logger; 0 when the debug log is switched off, or `text`
 * is null or not UTF-8. */
KYRO_EXPORT int kyrointLogDebug(int vendor, const char* text);

/* Writes a performance marker (KyroPerfLog: the system version, the computer name, the
 * library's version, "NA:NA" twice, the vendor's display name, then `marker`) to the
 * per-user performance log "KyroPerfLog.csv", while KYRO_PERF_LOG is set. A timed
 * operation is two markers, its name followed by ".START" and by ".STOP", stamped with
 * milliseconds (withMilliseconds non-zero); 0 stamps whole seconds. 1 when the marker was
 * handed to the performance logger; 0 when the log is switched off, or `marker` is null or
 * not UTF-8. */
KYRO_EXPORT int kyrointLogPerfMarker(int vendor, const char* marker, int withMilliseconds);

/* 1 while the debug log (KYRO_DEBUG_MODE) or the performance log (KYRO_PERF_LOG) is
 * switched on: while its variable is set, to anything ("0" included); 0 otherwise. Asked
 * anew on every call, as every record above does. */
KYRO_EXPORT int kyrointIsDebugLogEnabled(void);
KYRO_EXPORT int kyrointIsPerfLogEnabled(void);

/* ---- The host context ------------------------------------------------------------------ */

/* The locale text every dialog request carries ("de_DE"; empty until set). Null clears. */
KYRO_EXPORT void kyrointSetLocale(const char* locale);

/* Called on every idle tick (at least every 100 ms) while a dialog waits, after the
 * thread's window messages are handled. Null removes it. */
typedef void (*KyrointIdleHook)(void* context);
KYRO_EXPORT void kyrointSetIdleHook(KyrointIdleHook hook, void* context);

/* Told when a dialog goes up (*state 1) and comes down (*state 2). `state` belongs to the
 * library and is valid only during the call. Null removes it. */
typedef void (*KyrointDialogStateHook)(int* state, void* context);
KYRO_EXPORT void kyrointSetDialogStateHook(KyrointDialogStateHook hook, void* context);

/* The process id the library gives the companion as its host's, for hosts that act for
 * another process; 0 goes back to this process's own id. */
KYRO_EXPORT void kyrointSetClientProcessId(unsigned int processId);

/* ---- Texts ----------------------------------------------------------------------------- */

/* Loads the string table "KyroIntRes.xml" from `folder`. The first table that loads stays
 * for the life of the process. 1 when a table is loaded; 0 otherwise (recorded in the
 * error log, status 30). */
KYRO_EXPORT int kyrointSetResourceFolder(const char* folder);

/* Copies the text of `id` into `buffer` (always terminated when size > 0) and returns its
 * length in bytes, without the terminator; a result of `size` or more means the buffer was
 * too small. 0 for an unknown id or when no table is loaded. */
KYRO_EXPORT int kyrointGetString(const char* id, char* buffer, int size);

/* ---- Dialogs --------------------------------------------------------------------------- */

/* Icon codes, for the error dialog and the message box: 1 information, 2 question,
 * 3 warning, 4 error; any other value shows no icon.
 *
 * Every dialog is a window of the companion, which the person answers; the call returns
 * when they have. A companion that can show no window (no display) gives the default
 * answer at once: the message box its focused button, the privacy policy no consent. */

/* An error dialog: caption as the window title, title as its main text, the detail behind
 * a "Details" control; an empty or null detail turns the details off. 1 when the companion
 * answered (the person closed the dialog), 0 when it could not be reached. */
KYRO_EXPORT int kyrointShowErrorDialog(const char* caption, const char* title,
                                       const char* detail, int icon);

/* The companion's own "not enough memory" notice. 1 when it answered. */
KYRO_EXPORT int kyrointShowInsufficientMemory(void);

/* A message box with two buttons carrying the texts button0 and button1; focusIndex is the
 * button that has the focus (0 or 1). The index of the button chosen (0 or 1); -1 when the
 * person closed the box without choosing (Esc, the close box); 0 when there was no answer
 * (the companion could not be reached). */
KYRO_EXPORT int kyrointShowMessageBox(const char* caption, const char* title, int icon,
                                      const char* button0, const char* button1,
                                      int focusIndex);

/* The privacy-policy dialog for a product (its name, and the qualifier its consent is
 * kept under in the user's settings). Shown only until the user has consented: the
 * branding and hero images (PNG, JPEG or BMP; a missing or unreadable one is left out), the
 * companion's policy text in the host's locale, Agree and Decline. 0 when consent is on
 * record or was given now (Agree); 19 when the user declined or closed the window; 5 when
 * the companion could not be reached. Null or empty image paths are not sent. */
KYRO_EXPORT int kyrointShowPrivacyPolicy(const char* productName, const char* productQualifier,
                                         const char* brandingImagePath,
                                         const char* heroImagePath);

/* The please-wait dialog, shared by the whole process: a small window with a moving
 * progress bar and no close box, which goes away on hide, on the last release, or when the
 * process ends. Acquire (connectNow: start the companion at once) and release in pairs;
 * show and hide between. Show: 0, or 5 when the
 * companion cannot be reached, 2 when the request could not be sent. Hide: 0, or the
 * failure of the send. */
KYRO_EXPORT void kyrointAcquireWaitDialog(int connectNow);
KYRO_EXPORT void kyrointReleaseWaitDialog(void);
KYRO_EXPORT int kyrointShowWaitDialog(void);
KYRO_EXPORT int kyrointHideWaitDialog(void);

/* Runs work(context) on a thread of its own and waits for it, keeping this thread's
 * windows alive; the please-wait dialog shows when the work takes longer than delayMs and
 * goes when it ends. 1 when the work ran to its end; 0 when no thread could be started. */
KYRO_EXPORT int kyrointRunWithPleaseWait(void (*work)(void* context), void* context,
                                         unsigned int delayMs);

/* Keeps the please-wait dialog from showing at all (1), or lets it again (0). */
KYRO_EXPORT void kyrointSuppressWaitDialog(int suppressed);

/* Handles this thread's window messages, then calls the idle hook. */
KYRO_EXPORT void kyrointPumpMessages(void);

#ifdef __cplusplus
}
#endif

#endif
