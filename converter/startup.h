// The converter's program body and its start-up tests.
#pragma once

// The registry key, under HKEY_CURRENT_USER, that the converter shares with Glimmerdeck.
extern const char* const GlimmerdeckKey;
extern const char* const AutoConvertValue;

// True when the program was started with at least one argument.
bool HasParams();
// True only when the stored "AutoConvert" exists, can be read and is false.
bool AutoConvertDisabled();
// Ends at once when started with an argument and "AutoConvert" is false, else runs the dialog.
int ConverterStartup();
