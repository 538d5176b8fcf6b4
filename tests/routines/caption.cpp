// The routines' message box caption, as the player defines it.
const char* const MsgBoxCaption = "Corvelline Flash Player";
