// The player's main window.
#pragma once
#include "classlib/forms.h"

class TForm1 : public TForm {
public:
    explicit TForm1(TComponent* owner);
};

extern TForm1* Form1;

// Creates the About box at start-up (hidden until Help | About).
void CreateAboutBox();
