// How many GDI objects the process holds now.
#pragma once
#include <windows.h>

// What the system counts; where it counts nothing (Wine answers GetGuiResources with 0), the slots
// of the GDI handle table in use: a Wine handle keeps its slot in the low 16 bits, and a handle
// of the slot alone names whatever object holds it.
inline int GdiObjectsInUse() {
    if (const DWORD counted = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)) return static_cast<int>(counted);
    int inUse = 0;
    for (UINT_PTR slot = 1; slot < 0x10000; ++slot)
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(slot)) != 0) ++inUse;
    return inUse;
}
