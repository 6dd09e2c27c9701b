// The project's stand-in for the carried assist library
// "Assist_FT_InterPass3000_QVTR.dll" (resource "PE" 133). The key maker's
// own library cannot be carried, so the program writes this small DLL of
// ours instead; it exports nothing the key support calls yet.
#include <windows.h>

extern "C" __declspec(dllexport) int WINAPI ZentrovakStandInVersion() { return 1; }

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
