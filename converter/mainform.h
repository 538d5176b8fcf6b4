// The converter's dialog: input file, output format, the derived output path, Convert and Exit.
#pragma once
#include <string>

#include "classlib/dialogs.h"
#include "classlib/extctrls.h"
#include "classlib/forms.h"
#include "classlib/stdctrls.h"

// What a conversion starts: a program and its argument string, and the file the run writes the
// tool's error output into (none when empty).
struct ToolCommand {
    std::string program;
    std::string params;
    std::string errorLog;
    bool LogsErrors() const { return !errorLog.empty(); }
};

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
    // Switches the command to the variant that logs the tool's error output into the log beside
    // the input when Shift is down.
    void AddLogRedirect(ToolCommand& command);
    void ShowProgress();
    void HideProgress();
    // Ends a conversion before the tool starts: the dialog back as it was, then the reason.
    void RefuseConversion(const std::string& text);
    bool GetAutoConvert() const;
};

extern TForm1* Form1;

extern const char* const EmptyInputText;
extern const char* const ToolMissingText;
extern const char* const SameFileText;
// The refusal when an existing output could not be deleted: it names the file.
std::string CannotReplaceText(const std::string& output);
