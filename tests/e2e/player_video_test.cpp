// The player with videos: the companion movie, the "Play", "Resize" and "ready" exchange,
// window sizes in video mode, and requests the player must survive.
#include "tests/e2e/player_fixture.h"

using player::FlvWithH263Frame;
using player::FlvWithMetaData;
using player::PlayerTest;
using player::ResizeCall;
using player::SwfBytes;

namespace {
const char* const kTitle = "Corvelline Flash Player";

std::string PlayCall(const std::string& path) {
    return "call <invoke name=\"Play\" returntype=\"xml\"><arguments><string>" + path +
           "</string></arguments></invoke>";
}

class PlayerVideo : public PlayerTest {
protected:
    // Plays a 320 x 240 video from the command line and waits for the "ready" sizing.
    std::string StartWithVideo(const std::string& name = "clip.flv") {
        std::string video = Fixture(name, FlvWithMetaData(320, 240));
        Start("\"" + video + "\"");
        EXPECT_TRUE(WaitForClient(320, 299));
        EXPECT_EQ(Status(), "Video Size: 320 x 240");
        return video;
    }
    size_t LogSize() { return LogLines().size(); }
};
}  // namespace

TEST_F(PlayerVideo, CompanionMovieGetsItsSettingsAndThePlayRequest) {
    std::string video = StartWithVideo();
    std::string companion = ui::BinFolder() + "fvp.swf";
    std::vector<std::string> expected = {"put Scale noscale", "put AlignMode 5", "put Movie " + companion,
                                         "put BackgroundColor 0x000000", PlayCall(video)};
    std::vector<std::string> got = LogLines({"put ", "call "});
    ASSERT_GE(got.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(got.begin(), got.begin() + 5), expected);
    EXPECT_EQ(Caption(), std::string("clip.flv - ") + kTitle);
    EXPECT_TRUE(NoMessageBox());
    Screenshot("player-video");
}

TEST_F(PlayerVideo, SizeComesFromTheFirstVideoTagWithoutMetaData) {
    std::string video = Fixture("plain.flv", FlvWithH263Frame(176, 144));
    Start();
    ASSERT_TRUE(player::DropFiles(window_, program_.pid, {video}));
    EXPECT_TRUE(WaitForClient(176, 203));
    EXPECT_EQ(Status(), "Video Size: 176 x 144");
}

TEST_F(PlayerVideo, ViewSizesAndWindowResizesReachTheCompanionMovie) {
    StartWithVideo();
    size_t from = LogSize();
    Menu({"View", "Double Size"});
    EXPECT_TRUE(WaitForClient(640, 539));
    std::vector<std::string> calls = LogLines({"call "}, from);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), ResizeCall(640, 480));
    EXPECT_EQ(calls.back(), ResizeCall(640, 480));
    EXPECT_LE(calls.size(), 3u);

    from = LogSize();
    ResizeClientTo(700, 559);
    EXPECT_TRUE(WaitForClient(700, 559));
    calls = LogLines({"call "}, from);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), ResizeCall(700, 500));

    from = LogSize();
    Menu({"View", "Original Size"});
    EXPECT_TRUE(WaitForClient(320, 299));
    calls = LogLines({"call "}, from);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), ResizeCall(320, 240));
    EXPECT_EQ(calls.back(), ResizeCall(320, 240));
}

// After each step, sizes the window cannot take included, the last "Resize" the companion
// movie got carries the video area the window really has, and the next size is exact.
TEST_F(PlayerVideo, ResizeRequestsCarryTheRealAreaAfterSizesTheWindowCannotTake) {
    const player::SizeRun runs[] = {
        {"700 x 500, Ctrl+2 twice, Ctrl+1",
         {{700, 500, nullptr, 700, 559}, {0, 0, "ctrl+2", 0, 0}, {0, 0, "ctrl+2", 0, 0}, {0, 0, "ctrl+1", 700, 559}}},
        {"16 x 16 twice, then 200 x 150",
         {{16, 16, nullptr, 0, 0}, {16, 16, nullptr, 0, 0}, {200, 150, nullptr, 200, 209}}},
    };
    for (const player::SizeRun& run : runs) {
        RunSizes(run, true, [this] {
            // Given time to settle, should the player still be handling the step.
            std::string last, area;
            for (DWORD start = GetTickCount(); GetTickCount() - start < 5000; ui::Pause(100)) {
                std::vector<std::string> calls = LogLines({"call <invoke name=\"Resize\""});
                last = calls.empty() ? "" : calls.back();
                area = ResizeCall(Client().cx, Client().cy - 59);
                if (last == area) break;
            }
            EXPECT_EQ(last, area);
        });
        Screenshot("player-video-sizes-" + std::to_string(&run - runs));
        ui::Kill(program_);
        DeleteFileA(log_.c_str());
    }
}

TEST_F(PlayerVideo, ReadyRequestsThatAreNotExactlyReadyAreIgnored) {
    StartWithVideo();
    const wchar_t* ignored[] = {
        L"<invoke name=\"Ready\" "
        L"returntype=\"xml\"><arguments><number>100</number><number>50</number></arguments></invoke>",
        L"<invoke name=\"ready \"><arguments><number>100</number><number>50</number></arguments></invoke>",
        L"<invoke name=\"pause\"/>",
        L"<invoke returntype=\"xml\"><arguments><number>100</number><number>50</number></arguments></invoke>",
    };
    for (const wchar_t* request : ignored) {
        SCOPED_TRACE(std::string(request, request + wcslen(request)));
        ASSERT_TRUE(player::SendFlashCall(StandInWindow(), request));
        ui::Pause(400);
        EXPECT_TRUE(NoMessageBox(300));
        EXPECT_EQ(Client().cx, 320);
        EXPECT_EQ(Client().cy, 299);
        EXPECT_EQ(Status(), "Video Size: 320 x 240");
    }
}

TEST_F(PlayerVideo, BrokenReadyRequestsEndInTheErrorBoxAndThePlayerGoesOn) {
    StartWithVideo();
    const wchar_t* broken[] = {
        L"<invoke name=\"ready\"><arguments><number>100</number>",
        L"<invoke name=\"ready\" returntype=\"xml\"/>",
        L"<invoke name=\"ready\"><arguments><number>100</number></arguments></invoke>",
        L"<invoke name=\"ready\"><arguments><number>wide</number><number>50</number></arguments></invoke>",
        L"<invoke name=\"ready\"><arguments><number>100</number><number></number></arguments></invoke>",
        L"<invoke name=\"ready\"><arguments><number><b>100</b></number><number>50</number></arguments></invoke>",
        L"<invoke name=\"ready\"><arguments>100<number>50</number></arguments></invoke>",
        L"<invoke name=\"ready\"><arguments><number>99999999999</number><number>50</number></arguments></invoke>",
        L"",
    };
    for (const wchar_t* request : broken) {
        SCOPED_TRACE(std::string(request, request + wcslen(request)));
        ASSERT_TRUE(player::SendFlashCall(StandInWindow(), request));
        ui::MessageBoxInfo box = ui::WaitForMessageBox(program_.pid, 5000);
        ASSERT_NE(box.window, nullptr) << "no error box";
        EXPECT_EQ(box.caption, kTitle);
        EXPECT_FALSE(box.text.empty());
        EXPECT_EQ(box.buttons, std::vector<std::string>{"OK"});
        EXPECT_TRUE(ui::MessageBoxShowsIcon(box.window, IDI_ERROR));
        ui::PressButton(box.window, IDOK);
        ui::Pause(300);
        ASSERT_EQ(WaitForSingleObject(program_.process, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the player ended";
    }
    // Still answering: a good request sizes the window.
    ASSERT_TRUE(player::SendFlashCall(
        StandInWindow(),
        L"<invoke name=\"ready\"><arguments><number>200</number><number>100</number></arguments></invoke>"));
    EXPECT_TRUE(WaitForClient(200, 159));
    EXPECT_EQ(Status(), "Video Size: 200 x 100");
}

TEST_F(PlayerVideo, PathsWithMarkupCharactersMakeWellFormedRequests) {
    CreateDirectoryA((folder_ + "Tom & Jerry").c_str(), nullptr);
    std::string video = Fixture("Tom & Jerry\\clip.flv", FlvWithMetaData(240, 180));
    Start("\"" + video + "\"");
    EXPECT_TRUE(WaitForClient(240, 239)) << "the companion movie found the video";
    EXPECT_TRUE(WaitForLog("play " + video));
    // '<' and '>' cannot be in a file name, but they can reach the player in a dropped path.
    for (std::string odd : {folder_ + "x<y.flv", folder_ + "a>b&c.flv"}) {
        ASSERT_TRUE(player::DropFiles(window_, program_.pid, {odd}));
        EXPECT_TRUE(WaitForLog("play " + odd)) << odd;
    }
    for (const std::string& line : LogLines()) EXPECT_NE(line, "malformed request");
}

TEST_F(PlayerVideo, MovieDroppedDuringAVideoResizesTheCompanionMovieFirst) {
    StartWithVideo();
    std::string movie = Fixture("movie.swf", SwfBytes(550, 400, 0x336699));
    size_t from = LogSize();
    ASSERT_TRUE(player::DropFiles(window_, program_.pid, {movie}));
    EXPECT_TRUE(WaitForClient(550, 419));
    // The window takes its size before its handler has run: the movie's last put ends the drop.
    EXPECT_TRUE(WaitForLog("put Movie " + movie));
    std::vector<std::string> lines = LogLines({"put ", "call "}, from);
    std::vector<std::string> puts = player::MoviePuts("0x336699", movie);
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines.front(), ResizeCall(550, 240)) << "the width changes first";
    EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()), puts);
    for (size_t i = 0; i + 4 < lines.size(); ++i)
        EXPECT_EQ(lines[i].rfind("call <invoke name=\"Resize\"", 0), 0u) << lines[i];
    EXPECT_EQ(Status(), "Frame Size: 550 x 400");
    // Movie mode now: resizing sends nothing.
    from = LogSize();
    ResizeClientTo(600, 450);
    EXPECT_TRUE(LogLines({"call "}, from).empty());
}

TEST_F(PlayerVideo, MaximisedWindowIsRestoredByReady) {
    std::string video = Fixture("clip.flv", FlvWithMetaData(320, 240));
    Start();
    PostMessageA(window_, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    ui::Pause(500);
    ASSERT_TRUE(IsZoomed(window_));
    ASSERT_TRUE(player::DropFiles(window_, program_.pid, {video}));
    EXPECT_TRUE(WaitForClient(320, 299));
    EXPECT_FALSE(IsZoomed(window_));
}

TEST_F(PlayerVideo, MissingCompanionFilesGiveTheCorruptedMessage) {
    // A copy of the player in a folder of its own, with only some of its data files.
    struct Case {
        const char* name;
        bool companion, skin;
    } cases[] = {{"no skin", true, false}, {"no companion", false, true}, {"neither", false, false}};
    std::string video = Fixture("clip.flv", FlvWithMetaData(320, 240));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string dir = folder_ + "install " + std::to_string(&c - cases) + "\\";
        CreateDirectoryA(dir.c_str(), nullptr);
        ASSERT_TRUE(CopyFileA((ui::BinFolder() + "Velloscope.exe").c_str(), (dir + "Velloscope.exe").c_str(), FALSE));
        if (c.companion) CopyFileA((ui::BinFolder() + "fvp.swf").c_str(), (dir + "fvp.swf").c_str(), FALSE);
        if (c.skin)
            CopyFileA((ui::BinFolder() + "SteelExternalAll.swf").c_str(), (dir + "SteelExternalAll.swf").c_str(),
                      FALSE);
        Start("", dir + "Velloscope.exe");
        SIZE before = Client();
        ASSERT_NO_FATAL_FAILURE(
            DropExpectingErrorBox(video, "Corvelline Flash Player is corrupted, please reinstall!"));
        EXPECT_TRUE(LogLines({"put ", "call "}).empty()) << "something was loaded";
        EXPECT_EQ(Caption(), kTitle);
        EXPECT_EQ(Client().cx, before.cx);
        ui::Kill(program_);
        DeleteFileA(log_.c_str());
    }
}

// An installation whose companion movie is damaged: the file is there, so the player goes on,
// but the control loads nothing and fails the "Play" call. The failure ends the handler in the
// application's error box, which tells the failing call's error; what was set before stays,
// so video mode is on and the next size change fails the same way before the window changes.
TEST_F(PlayerVideo, CompanionMovieThatDoesNotLoadEndsInTheErrorBox) {
    std::string dir = folder_ + "damaged install\\";
    CreateDirectoryA(dir.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA((ui::BinFolder() + "Velloscope.exe").c_str(), (dir + "Velloscope.exe").c_str(), FALSE));
    ASSERT_TRUE(
        CopyFileA((ui::BinFolder() + "SteelExternalAll.swf").c_str(), (dir + "SteelExternalAll.swf").c_str(), FALSE));
    player::WriteBytes(dir + "fvp.swf", {});  // cut to nothing
    std::string video = Fixture("clip.flv", FlvWithMetaData(320, 240));
    // The system's own text for the call's failure code (E_FAIL), as the error box shows an error.
    char text[512] = {0};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(E_FAIL), 0,
                   text, sizeof(text), nullptr);
    std::string callFailed = text;
    while (!callFailed.empty() && (callFailed.back() == '\n' || callFailed.back() == '\r' || callFailed.back() == ' '))
        callFailed.pop_back();
    if (!callFailed.empty() && callFailed.back() != '.') callFailed += '.';
    ASSERT_FALSE(callFailed.empty());

    Start("", dir + "Velloscope.exe");
    SIZE before = Client();
    std::string status = Status();
    ASSERT_NO_FATAL_FAILURE(DropExpectingErrorBox(video, callFailed));
    std::vector<std::string> expected = {"put Scale noscale", "put AlignMode 5", "put Movie " + dir + "fvp.swf",
                                         "put BackgroundColor 0x000000", PlayCall(video)};
    EXPECT_EQ(LogLines({"put ", "call "}), expected);
    EXPECT_EQ(Caption(), kTitle) << "the caption comes after the call";
    EXPECT_EQ(Status(), status);
    EXPECT_EQ(Client().cx, before.cx);
    EXPECT_EQ(Client().cy, before.cy);

    Menu({"View", "Original Size"});  // video mode: "Resize" goes first, and fails
    ui::MessageBoxInfo box = ui::WaitForMessageBox(program_.pid, 5000);
    ASSERT_NE(box.window, nullptr) << "video mode did not stay on";
    EXPECT_EQ(box.text, callFailed);
    ui::PressButton(box.window, IDOK);
    ui::Pause(300);
    EXPECT_EQ(LogLines({"call "}).back(), ResizeCall(320, 240));
    EXPECT_EQ(Client().cx, before.cx) << "the window changed after the failed call";
    EXPECT_EQ(Client().cy, before.cy);
    EXPECT_TRUE(IsWindow(window_));
}
