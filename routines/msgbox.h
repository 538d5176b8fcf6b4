// The programs' message box: a fixed caption per program and the caller's style flags.
#pragma once
#include <string>

// Each program defines its own caption ("Corvelline Flash Player", "Corvelline Converter").
extern const char* const MsgBoxCaption;

constexpr int MsgBoxError = 16;          // OK button, error icon
constexpr int MsgBoxInstallPrompt = 52;  // Yes and No buttons, warning icon
constexpr int MsgBoxAnswerYes = 6;

// Shows text through the application object's message box and returns the button pressed.
int MsgBox(const std::string& text, int flags);
