// The library's error: every refusal of a GIF stream or operation raises GIFException with one
// of the fixed texts of gifimage/messages.h.
#pragma once
#include <string>

#include "classlib/graphics.h"

class GIFException : public EInvalidGraphic {
    using EInvalidGraphic::EInvalidGraphic;
};

[[noreturn]] void RaiseGIFError(const std::string& message);
