#include "converter/progressform.h"

TForm2* Form2 = nullptr;

TForm2::TForm2(TComponent* owner) : TForm(owner, "TForm2", bsDialog, 0) {
    SetCaption("Converting ...");
    SetPosition(poOwnerFormCenter);
    SetClientSize(311, 59);
    Image1 = new TImage(this, this);
    Image1->SetBounds(46, 20, 220, 19);
    Image1->SetCenter(true);
    FormCreate(this);
}

// Also destroyed with its owner, the dialog: the program-wide reference must not outlive it.
TForm2::~TForm2() {
    if (Form2 == this) Form2 = nullptr;
}

// The wait animation is handed to Image1 here once the GIF image library is part of the program;
// until then the window shows its caption over an empty picture.
void TForm2::FormCreate(TObject*) { Image1->Picture().SetGraphic(nullptr); }
