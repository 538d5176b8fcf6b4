// The common Open dialog.
#pragma once
#include <string>

#include "classlib/classes.h"

class TOpenDialog : public TComponent {
public:
    explicit TOpenDialog(TComponent* owner) : TComponent(owner) {}
    // "Description|*.ext;*.ext2|Other|*.x", as the class library takes it.
    std::string Filter;
    int FilterIndex = 1;
    std::string FileName;
    std::string InitialDir;
    std::string Title;
    std::string DefaultExt;
    // Shows the dialog owned by the active window; true with FileName set when the user chose a file.
    bool Execute();
};
