#include "player/mainform.h"

TForm1* Form1 = nullptr;

TForm1::TForm1(TComponent* owner) : TForm(owner, "TForm1") {
    SetBounds(0, 0, 556, 471);
    SetCaption("Corvelline Flash Player");
}

void CreateAboutBox() {}
