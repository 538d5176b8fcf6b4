// The player's About box: banner, icon, product texts, the web-site and support links.
#pragma once
#include "classlib/extctrls.h"
#include "classlib/forms.h"
#include "classlib/stdctrls.h"

// Product data shown in the About box.
extern const char* const ProductWebSite;
extern const char* const SupportAddress;
extern const char* const LegalNotice;
extern const char* const FeedbackSubject;

class TAboutBox : public TForm {
public:
    explicit TAboutBox(TComponent* owner);

    TImage* Image1;
    TImage* ProgramIcon;
    TLabel* ProductName;
    TLabel* Label1;
    TLabel* Version;
    TBevel* Bevel1;
    TLabel* Label2;
    TLabel* Copyright;
    TLabel* Label3;
    TLabel* Comments;
    TButton* OKButton;

    void FormCreate(TObject* sender);
    void CopyrightClick(TObject* sender);
    void CommentsClick(TObject* sender);
};

extern TAboutBox* AboutBox;
