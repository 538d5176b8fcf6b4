#include "player/startup.h"

#include <windows.h>
#include <shellapi.h>

#include "classlib/forms.h"
#include "player/mainform.h"
#include "routines/flashversion.h"
#include "routines/msgbox.h"

const char* const MsgBoxCaption = "Corvelline Flash Player";
const char* const InstallPromptText =
    "A required component, Adobe Flash player 8 or higher, is not installed.\r\r"
    "Click Yes to install it immediately.\rOr click No to close this application.";
// The control maker's download page: its host is ours to configure, path and query are fixed.
const char* const FlashDownloadUrl = "http://www.adobe.com/shockwave/download/index.cgi?P1_Prod_Version=ShockwaveFlash";

int PlayerStartup() {
    if (GetFlashVersion() < MinFlashVersion) {
        if (MsgBox(InstallPromptText, MsgBoxInstallPrompt) == MsgBoxAnswerYes)
            ShellExecuteA(nullptr, "open", FlashDownloadUrl, nullptr, nullptr, SW_SHOWNORMAL);
        return 0;
    }
    Application->Initialize();
    Application->SetTitle("Corvelline Flash Player");
    Application->CreateForm(Form1);
    CreateAboutBox();
    Application->Run();
    return 0;
}
