// The converter's dialog: input file, output format, the derived output path, Convert and Exit.
#pragma once
#include <string>

#include "classlib/dialogs.h"
#include "classlib/extctrls.h"
#include "classlib/forms.h"
#include "classlib/stdctrls.h"

class TForm1 : public TForm {
public:
    explicit TForm1(TComponent* owner);

    // Components, in their declaration order; the form owns them. The themed common controls
    // come from the program's manifest resource.
    TLabeledEdit* InputFile;
    TImage* Image1;
    TButton* btnConvert;
    TButton* BrowseInputFile;
    TOpenDialog* OpenDialog1;
    TButton* btnExit;
    TComboBox* cmbFormat;
    TLabel* Label1;
    TLabel* Label2;
    TCheckBox* cbAutoConvert;
    TStaticText* OutputFile;

    void BrowseInputFileClick(TObject* sender);
    void cmbFormatChange(TObject* sender);
    void btnExitClick(TObject* sender);
    void btnConvertClick(TObject* sender);
    // Bound to OnShow: runs each time the dialog is shown.
    void FormCreate(TObject* sender);
    void FormClose(TObject* sender, TCloseAction& action);

    std::string GetInputFileName() const;
    std::string GetOutputFileName() const;
    std::string GetLogFileName() const;
    void UpdateOutputFile();
    bool CheckInput();
    std::string GetConvertParams() const;
    // Switches program and params to the variant that logs the tool's error output when Shift is down.
    void AddLogRedirect(std::string& program, std::string& params);
    void ShowProgress();
    void HideProgress();
    bool GetAutoConvert() const;
};

extern TForm1* Form1;

extern const char* const EmptyInputText;
extern const char* const ToolMissingText;
extern const char* const SameFileText;
