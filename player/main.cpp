// Velloscope: the Flash movie and video player.
#include <windows.h>

#include "player/startup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return PlayerStartup(); }
