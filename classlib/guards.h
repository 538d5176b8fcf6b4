// Scope guards for the few resources the libraries borrow and must give back on every way out:
// a re-entry flag, a GDI object, its selection into a device context, and a memory device context.
#pragma once
#include <windows.h>

#include "classlib/sysutils.h"

// Sets a re-entry flag for the guard's lifetime.
class FlagGuard {
public:
    explicit FlagGuard(bool& flag) : flag_(flag) { flag_ = true; }
    ~FlagGuard() { flag_ = false; }
    FlagGuard(const FlagGuard&) = delete;
    FlagGuard& operator=(const FlagGuard&) = delete;

private:
    bool& flag_;
};

// A GDI object the caller made (and checked), deleted with the guard.
class GdiObject {
public:
    explicit GdiObject(HGDIOBJ object) : object_(object) {}
    ~GdiObject() { DeleteObject(object_); }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;
    HGDIOBJ Get() const { return object_; }

private:
    HGDIOBJ object_;
};

// An object selected into a context; what was selected before goes back with the guard.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) : dc_(dc), old_(SelectObject(dc, object)) {}
    ~Selection() {
        if (old_) SelectObject(dc_, old_);
    }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;
    HGDIOBJ Previous() const { return old_; }

private:
    HDC dc_;
    HGDIOBJ old_;
};

// A memory device context, deleted with the guard.
class MemoryDC {
public:
    // Compatible with `compatible` (the screen when null); a refusal raises EOutOfResources.
    explicit MemoryDC(HDC compatible = nullptr) : dc_(CreateCompatibleDC(compatible)) {
        if (!dc_) throw EOutOfResources("Out of system resources");
    }
    // Takes over a context the caller made and checked in its own way.
    struct Adopt {};
    MemoryDC(Adopt, HDC dc) : dc_(dc) {}
    ~MemoryDC() { DeleteDC(dc_); }
    MemoryDC(const MemoryDC&) = delete;
    MemoryDC& operator=(const MemoryDC&) = delete;
    operator HDC() const { return dc_; }

private:
    HDC dc_;
};
