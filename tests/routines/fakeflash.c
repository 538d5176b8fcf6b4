/* A DLL with nothing but a version resource: a stand-in control file for the version lookup. */
#include <windows.h>
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) { return TRUE; }
