// The entry point Windows calls when a plug-in's DLL is loaded and
// unloaded. The plug-ins are linked without a C runtime start-up of their
// own: they have no static constructors or destructors, and they keep no
// per-thread state, so they ask not to be told about threads.
#include <windows.h>

extern "C" BOOL WINAPI DllMainCRTStartup(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    return TRUE;
}
