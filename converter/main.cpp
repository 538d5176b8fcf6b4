// Convert: turns a Flash video into an AVI or MPEG file with ffmpeg.exe.
#include <windows.h>

#include "converter/startup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return ConverterStartup(); }
