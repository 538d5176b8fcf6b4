// The library's errors. A GIF stream or an operation that the library refuses raises
// GIFException with one of the fixed texts of gifimage/messages.h. Other failures raise the class
// library's own exceptions: EOutOfResources where GDI fails, EOutOfMemory where a bitmap's memory
// cannot be had, EListError for an index outside a list, EInvalidGraphic for a colour outside
// the table when the encoder has no error handler, Exception for a read or seek on the encoder's
// write-only stream; and EImageFreed (below) where a handler has freed the image under way.
#pragma once
#include <string>

#include "classlib/graphics.h"
#include "classlib/sysutils.h"

class GIFException : public EInvalidGraphic {
    using EInvalidGraphic::EInvalidGraphic;
};

[[noreturn]] inline void RaiseGIFError(const std::string& message) { throw GIFException(message); }

// Raised where a handler the library called has freed the image it was working on: the work
// ends there, and nothing up the stack touches the image or its parts again. Callers see an abort.
class EImageFreed : public EAbort {
    using EAbort::EAbort;
};
