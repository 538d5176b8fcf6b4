/* Stands in for the browser in tests: appends its command line to the file named by URL_RECORD_FILE. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    const char* path = getenv("URL_RECORD_FILE");
    FILE* out = path ? fopen(path, "ab") : NULL;
    if (!out) return 1;
    fprintf(out, "%s\n", commandLine);
    fclose(out);
    return 0;
}
