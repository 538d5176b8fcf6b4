/* A MAPI32.DLL without MAPISendMail, for the test of a broken mail system. */
#include <windows.h>
__declspec(dllexport) ULONG WINAPI MAPILogon(ULONG_PTR a, LPSTR b, LPSTR c, ULONG d, ULONG e, ULONG_PTR* f) {
    return 0;
}
