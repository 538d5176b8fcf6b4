#include "converter/progressform.h"

#include <memory>

#include "gifimage/gifimage.h"

TForm2* Form2 = nullptr;

TForm2::TForm2(TComponent* owner) : TForm(owner, "TForm2", bsDialog, 0) {
    SetCaption("Converting ...");
    SetPosition(poOwnerFormCenter);
    SetClientSize(311, 59);
    // The window lives as long as the tool runs and the user cannot close it: it has no close
    // box, and a close asked by keys (Alt+F4) is refused.
    OnClose = [](TObject*, TCloseAction& action) { action = caNone; };
    Image1 = new TImage(this, this);
    Image1->SetBounds(46, 20, 220, 19);
    Image1->SetCenter(true);
    FormCreate(this);
}

// Also destroyed with its owner, the dialog: the program-wide reference must not outlive it.
TForm2::~TForm2() {
    if (Form2 == this) Form2 = nullptr;
}

// Loads the wait animation and hands a copy to Image1, whose drawing starts the animation's
// painter thread. The loaded image is freed on every path; a missing resource raises.
void TForm2::FormCreate(TObject*) {
    auto waitAnimation = std::make_unique<TGIFImage>();
    waitAnimation->LoadFromNamedResource(GetModuleHandleA(nullptr), "GIF_WAIT");
    Image1->Picture().SetGraphic(nullptr);
    Image1->Picture().Assign(*waitAnimation);
}
