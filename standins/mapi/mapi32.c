/* Stands in for a Simple MAPI mail client in tests. MAPISendMail appends the message it is
   handed to the file named by MAPI_RECORD_FILE and answers with MAPI_ANSWER (default 0). */
#include <windows.h>
#include <mapi.h>
#include <stdio.h>
#include <stdlib.h>

static const char* Show(const char* s) { return s ? s : "(null)"; }

static void WriteRecipient(FILE* out, const char* role, const MapiRecipDesc* r) {
    fprintf(out, "%s.class=%lu\n%s.name=%s\n%s.address=%s\n", role, (unsigned long)r->ulRecipClass, role,
            Show(r->lpszName), role, Show(r->lpszAddress));
}

ULONG WINAPI MAPISendMail(LHANDLE session, ULONG_PTR parent, lpMapiMessage message, FLAGS flags, ULONG reserved) {
    const char* path = getenv("MAPI_RECORD_FILE");
    const char* answer = getenv("MAPI_ANSWER");
    FILE* out = path ? fopen(path, "ab") : NULL;
    if (out) {
        ULONG i;
        fprintf(out, "session=%lu\nparent=%s\nflags=%lu\nreserved=%lu\n", (unsigned long)session,
                parent && IsWindow((HWND)parent) ? "window" : "none", (unsigned long)flags, (unsigned long)reserved);
        fprintf(out, "subject=%s\nbody=%s\n", Show(message->lpszSubject), Show(message->lpszNoteText));
        fprintf(out, "originator=%s\n", message->lpOriginator ? "yes" : "none");
        if (message->lpOriginator) WriteRecipient(out, "originator", message->lpOriginator);
        fprintf(out, "recipients=%lu\n", (unsigned long)message->nRecipCount);
        for (i = 0; i < message->nRecipCount; ++i) WriteRecipient(out, "recipient", &message->lpRecips[i]);
        fprintf(out, "files=%lu\n", (unsigned long)message->nFileCount);
        fclose(out);
    }
    return answer ? (ULONG)strtoul(answer, NULL, 10) : 0;
}
