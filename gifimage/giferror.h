// The library's error: every refusal of a GIF stream or operation raises GIFException with one
// of the fixed texts of gifimage/messages.h.
#pragma once
#include <string>

#include "classlib/graphics.h"
#include "classlib/sysutils.h"

class GIFException : public EInvalidGraphic {
    using EInvalidGraphic::EInvalidGraphic;
};

[[noreturn]] void RaiseGIFError(const std::string& message);

// Raised where a handler the library called has freed the image it was working on: the work
// ends there, and nothing up the stack touches the image or its parts again. Callers see an abort.
class EImageFreed : public EAbort {
    using EAbort::EAbort;
};
