// The entry point Windows calls when TARV_c.dll is loaded and unloaded. The
// plug-in is linked without a C runtime start-up of its own: it has no
// static constructors or destructors, and it keeps no per-thread state, so
// it asks not to be told about threads.
#include <windows.h>

extern "C" BOOL WINAPI DllMainCRTStartup(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    return TRUE;
}
