// The player's start: the Flash control check, the install prompt, the forms and the loop.
#pragma once
#include <string>

// The install prompt's text and the download page it opens on Yes.
extern const char* const InstallPromptText;
extern const char* const FlashDownloadUrl;
// The lowest major version of the Flash control the player works with.
constexpr int MinFlashVersion = 8;

// The program body; returns the process exit code.
int PlayerStartup();
