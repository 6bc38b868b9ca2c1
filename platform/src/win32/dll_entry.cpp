// The DLL entry function. Everything the library needs at load is built by the runtime's
// static initialisation; here is nothing to do but agree to every notification.
#include "windows_support.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
