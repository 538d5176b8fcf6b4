#include "routines/msgbox.h"

#include "classlib/forms.h"

int MsgBox(const std::string& text, int flags) {
    return Application->MessageBox(text, MsgBoxCaption, static_cast<UINT>(flags));
}
