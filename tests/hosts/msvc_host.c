/* A host built with MSVC's toolchain (clang for x86_64-pc-windows-msvc, lld-link) that
 * knows kyroint only through kyro/kyroint.h and kyroint.lib. It has no C runtime: its entry
 * point is its own, and it calls kernel32 through an import library made from kernel32.def.
 *
 *   msvc_host.exe <error log>
 *
 * Starts the library, names the error log, writes an error record, a debug line and two
 * performance markers, asks for a message box, and prints each answer on a line of its own,
 * then its process id (which stamps its log lines). */
#include "kyro/kyroint.h"

/* The few kernel32 functions it needs, declared as the system headers would. */
typedef void* HANDLE;
__declspec(dllimport) HANDLE __stdcall GetStdHandle(unsigned long which);
__declspec(dllimport) int __stdcall WriteFile(HANDLE file, const void* data, unsigned long size,
                                              unsigned long* written, void* overlapped);
__declspec(dllimport) unsigned short* __stdcall GetCommandLineW(void);
__declspec(dllimport) int __stdcall WideCharToMultiByte(unsigned int codePage, unsigned long flags,
                                                        const unsigned short* wide, int wideCount,
                                                        char* bytes, int byteCount,
                                                        const char* defaultChar, int* usedDefault);
__declspec(dllimport) unsigned long __stdcall GetCurrentProcessId(void);
__declspec(dllimport) __declspec(noreturn) void __stdcall ExitProcess(unsigned int code);

#define STD_OUTPUT_HANDLE ((unsigned long)-11)
#define CP_UTF8 65001u

static char g_out[512];
static int g_used;

static void put(const char* text)
{
    while (*text != '\0' && g_used < (int)sizeof g_out)
        g_out[g_used++] = *text++;
}

static void putNumber(long value)
{
    char digits[24];
    int count = 0;
    unsigned long magnitude = value < 0 ? 0ul - (unsigned long)value : (unsigned long)value;
    if (value < 0)
        put("-");
    do {
        digits[count++] = (char)('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    while (count > 0 && g_used < (int)sizeof g_out)
        g_out[g_used++] = digits[--count];
}

static void line(const char* name, long value)
{
    put(name);
    put("=");
    putNumber(value);
    put("\n");
}

/* The first argument, UTF-8; empty when there is none. */
static void firstArgument(char* utf8, int size)
{
    const unsigned short* at = GetCommandLineW();
    unsigned short quote = 0;
    while (*at != 0 && (quote != 0 || (*at != ' ' && *at != '\t'))) { /* the program */
        if (*at == '"')
            quote = quote != 0 ? 0 : '"';
        ++at;
    }
    while (*at == ' ' || *at == '\t')
        ++at;
    int count = 0;
    if (*at == '"')
        ++at;
    while (at[count] != 0 && at[count] != '"')
        ++count;
    int bytes = count > 0 ? WideCharToMultiByte(CP_UTF8, 0, at, count, utf8, size - 1, 0, 0) : 0;
    utf8[bytes > 0 ? bytes : 0] = '\0';
}

void hostMain(void)
{
    char errorLog[260 * 3];
    firstArgument(errorLog, (int)sizeof errorLog);

    line("startUp", kyrointStartUp());
    line("named", kyrointSetErrorLogFile(errorLog));
    line("error", kyrointLogError(3, 2, "C:\\src\\msvc_host.c", 42, "1.0"));
    line("debug", kyrointLogDebug(3, "hello from an MSVC host"));
    line("perf", kyrointLogPerfMarker(3, "HOSTWORK.START", 1) * 10 +
                     kyrointLogPerfMarker(3, "HOSTWORK.STOP", 1));
    line("button", kyrointShowMessageBox("Kyro", "Linked by MSVC's rules?", 2, "Yes", "No", 1));
    line("pid", (long)GetCurrentProcessId());

    unsigned long written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), g_out, (unsigned long)g_used, &written, 0);
    ExitProcess(0);
}
