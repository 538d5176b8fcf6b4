// 8-bit text in the ANSI code page to wide text, for the Flash control's strings.
#pragma once
#include <string>

std::wstring StringToWide(const std::string& text);
