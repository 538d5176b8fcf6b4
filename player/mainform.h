// The player's main window: the hosted Flash control, menus, status bar, and playback of
// movies and of videos through the companion movie.
#pragma once
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "classlib/comctrls.h"
#include "classlib/dialogs.h"
#include "classlib/forms.h"
#include "classlib/menus.h"
#include "classlib/xmldoc.h"
#include "player/shockwaveflash.h"

// Size of the current movie frame or video, in pixels.
extern int FrameWidth;
extern int FrameHeight;
// True while a video plays through the companion movie.
extern bool FlvMode;

// The companion movie's control bar below the video, in pixels.
constexpr int FlvControlBarHeight = 40;

// The requests the player sends to the companion movie. The video path is XML-escaped.
std::wstring MakePlayRequest(const std::string& videoPath);
std::wstring MakeResizeRequest(int width, int height);

class TForm1 : public TForm {
public:
    explicit TForm1(TComponent* owner);

    TShockwaveFlash* Flash1 = nullptr;
    TOpenDialog* OpenDialog1 = nullptr;
    TXMLDocument* XML1 = nullptr;
    TMainMenu* MainMenu1 = nullptr;
    TMenuItem* File1 = nullptr;
    TMenuItem* Open1 = nullptr;
    TMenuItem* Exit1 = nullptr;
    TMenuItem* View1 = nullptr;
    TMenuItem* OriginalSize1 = nullptr;
    TMenuItem* DoubleSize1 = nullptr;
    TMenuItem* Help1 = nullptr;
    TMenuItem* About1 = nullptr;
    TStatusBar* StatusBar1 = nullptr;
    TMenuItem* Associatewithflvandswf1 = nullptr;

    void FormCreate(TObject* sender);
    void FormResize(TObject* sender);
    void Open1Click(TObject* sender);
    void Exit1Click(TObject* sender);
    void About1Click(TObject* sender);
    void OriginalSize1Click(TObject* sender);
    void DoubleSize1Click(TObject* sender);
    void Associatewithflvandswf1Click(TObject* sender);
    void Flash1FlashCall(TObject* sender, const std::wstring& request);
    void Play(const std::string& path);
    void PlaySWF(const std::string& path);
    void PlayFLV(const std::string& path);
    void WMDropFiles(HDROP drop);

protected:
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void BuildMenu();
    // Keeps the status bar along the bottom and the control in the rest of the client area.
    void AlignControls();
    void SendResize(int width, int height);
    // Tells the companion movie the video area the window has, unless that was the last one sent.
    void SendVideoAreaIfChanged();
    // The client area's height below the frame: the status bar, and while a video plays the
    // companion movie's control bar.
    int HeightBelowFrame(bool video) const;
    // Sizes the client area to a frame of width x height (width first, then height).
    void SizeClientToFrame(int width, int height, bool video);
    void SizeToFrame(int factor);
    void SetActiveControl(TWinControl* control);

    // The video area of the last "Resize" sent to the companion movie.
    int sentWidth_ = -1, sentHeight_ = -1;
};

extern TForm1* Form1;

// Creates the About box at start-up (hidden until Help | About).
void CreateAboutBox();
// Shows the About box modally.
void ShowAboutBox();
