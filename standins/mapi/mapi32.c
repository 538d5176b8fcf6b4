/* Stands in for a Simple MAPI mail client in tests. MAPISendMail appends the message it is
   handed to the file named by MAPI_RECORD_FILE. MAPI_ANSWER names a result the mail system
   gives before any compose window shows (1: the user cancelled its logon; 2, 3, ...: failures).
   Otherwise, asked for its dialog (MAPI_DIALOG), it
   shows its compose window modal to the parent window it is given, as mail clients do: the
   parent is disabled until the window goes; its Send button answers 0 (sent), closing it 1 (the
   user cancelled). Without the dialog flag it answers 0 at once. */
#include <windows.h>
#include <mapi.h>
#include <stdio.h>
#include <stdlib.h>

#define COMPOSE_CLASS "MapiComposeStandIn"
#define SEND_BUTTON 1

static ULONG composeResult;

static const char* Show(const char* s) { return s ? s : "(null)"; }

static void WriteRecipient(FILE* out, const char* role, const MapiRecipDesc* r) {
    fprintf(out, "%s.class=%lu\n%s.name=%s\n%s.address=%s\n", role, (unsigned long)r->ulRecipClass, role,
            Show(r->lpszName), role, Show(r->lpszAddress));
}

/* The parent as the record names it: the class of its window, or "none". */
static void ParentName(ULONG_PTR parent, char* name, int size) {
    if (!parent || !IsWindow((HWND)parent) || !GetClassNameA((HWND)parent, name, size)) lstrcpynA(name, "none", size);
}

static void Record(ULONG_PTR session, ULONG_PTR parent, lpMapiMessage message, FLAGS flags, ULONG reserved) {
    const char* path = getenv("MAPI_RECORD_FILE");
    FILE* out = path ? fopen(path, "ab") : NULL;
    char parentName[64];
    ULONG i;
    if (!out) return;
    ParentName(parent, parentName, sizeof(parentName));
    fprintf(out, "session=%lu\nparent=%s\nflags=%lu\nreserved=%lu\n", (unsigned long)session, parentName,
            (unsigned long)flags, (unsigned long)reserved);
    fprintf(out, "subject=%s\nbody=%s\n", Show(message->lpszSubject), Show(message->lpszNoteText));
    fprintf(out, "originator=%s\n", message->lpOriginator ? "yes" : "none");
    if (message->lpOriginator) WriteRecipient(out, "originator", message->lpOriginator);
    fprintf(out, "recipients=%lu\n", (unsigned long)message->nRecipCount);
    for (i = 0; i < message->nRecipCount; ++i) WriteRecipient(out, "recipient", &message->lpRecips[i]);
    fprintf(out, "files=%lu\n", (unsigned long)message->nFileCount);
    fclose(out);
}

static LRESULT CALLBACK ComposeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == SEND_BUTTON) {
            composeResult = SUCCESS_SUCCESS;
            DestroyWindow(window);
        }
        return 0;
    case WM_CLOSE:
        composeResult = MAPI_USER_ABORT;
        DestroyWindow(window);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

/* The compose window, modal to parent: runs until the user sends or closes it. */
static ULONG Compose(HWND parent, lpMapiMessage message) {
    WNDCLASSA wc;
    HWND compose, send;
    BOOL parentWasEnabled = FALSE;
    MSG msg;
    ZeroMemory(&wc, sizeof(wc));
    wc.lpfnWndProc = ComposeProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    wc.hCursor = LoadCursor(NULL, IDC_ARROW);
    wc.lpszClassName = COMPOSE_CLASS;
    RegisterClassA(&wc);
    if (parent && !IsWindow(parent)) parent = NULL;
    compose = CreateWindowExA(WS_EX_DLGMODALFRAME, COMPOSE_CLASS, Show(message->lpszSubject),
                              WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, 320, 120, parent, NULL, wc.hInstance, NULL);
    if (!compose) return MAPI_E_FAILURE;
    send = CreateWindowExA(0, "BUTTON", "Send", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON, 220, 50, 75, 25, compose,
                           (HMENU)SEND_BUTTON, wc.hInstance, NULL);
    (void)send;
    if (parent) parentWasEnabled = !EnableWindow(parent, FALSE);
    composeResult = MAPI_USER_ABORT;
    ShowWindow(compose, SW_SHOWNORMAL);
    while (IsWindow(compose) && GetMessageA(&msg, NULL, 0, 0) > 0) {
        if (!IsDialogMessageA(compose, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    if (parent && parentWasEnabled) EnableWindow(parent, TRUE);
    return composeResult;
}

ULONG WINAPI MAPISendMail(LHANDLE session, ULONG_PTR parent, lpMapiMessage message, FLAGS flags, ULONG reserved) {
    const char* answer = getenv("MAPI_ANSWER");
    ULONG failure = answer ? (ULONG)strtoul(answer, NULL, 10) : SUCCESS_SUCCESS;
    Record(session, parent, message, flags, reserved);
    if (failure != SUCCESS_SUCCESS) return failure;
    return (flags & MAPI_DIALOG) ? Compose((HWND)parent, message) : SUCCESS_SUCCESS;
}
