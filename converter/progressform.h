// The small "Converting ..." window shown while the tool runs.
#pragma once
#include "classlib/extctrls.h"
#include "classlib/forms.h"

class TForm2 : public TForm {
public:
    explicit TForm2(TComponent* owner);
    ~TForm2() override;
    TImage* Image1;
    void FormCreate(TObject* sender);
};

// The progress window of the conversion under way; null outside a conversion.
extern TForm2* Form2;
