// The routines' message box caption, as the player defines it.
#include "routines/msgbox.h"

const char* const MsgBoxCaption = "Corvelline Flash Player";
