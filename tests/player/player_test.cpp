// Request texts, shortcuts and menus, and the XML document over MSXML.
#include <gtest/gtest.h>
#include <objbase.h>

#include "classlib/forms.h"
#include "classlib/menus.h"
#include "classlib/xmldoc.h"
#include "player/mainform.h"
#include "routines/msgbox.h"

TEST(PlayerMessages, CaptionIsTheProductName) { EXPECT_STREQ(MsgBoxCaption, "Corvelline Flash Player"); }

TEST(CompanionRequests, PlayCarriesThePathAsXmlText) {
    struct Case {
        const char* path;
        const char* text;
    } cases[] = {
        {"C:\\videos\\clip.flv", "C:\\videos\\clip.flv"},
        {"clip.flv", "clip.flv"},
        {"C:\\Tom & Jerry\\a<b>.flv", "C:\\Tom &amp; Jerry\\a&lt;b&gt;.flv"},
        {"C:\\it's \"here\".flv", "C:\\it's \"here\".flv"},
    };
    for (const Case& c : cases) {
        std::string expected = std::string("<invoke name=\"Play\" returntype=\"xml\"><arguments><string>") + c.text +
                               "</string></arguments></invoke>";
        EXPECT_EQ(MakePlayRequest(c.path), std::wstring(expected.begin(), expected.end())) << c.path;
    }
}

TEST(CompanionRequests, ResizeCarriesDecimalNumbers) {
    struct Case {
        int width, height;
        const char* numbers;
    } cases[] = {
        {640, 480, "640</string><string>480"}, {0, -59, "0</string><string>-59"}, {7, 10, "7</string><string>10"}};
    for (const Case& c : cases) {
        std::string expected = std::string("<invoke name=\"Resize\" returntype=\"xml\"><arguments><string>") +
                               c.numbers + "</string></arguments></invoke>";
        EXPECT_EQ(MakeResizeRequest(c.width, c.height), std::wstring(expected.begin(), expected.end()));
    }
}

TEST(ShortCuts, TextOfTheStoredValues) {
    struct Case {
        TShortCut shortCut;
        const char* text;
    } cases[] = {{16463, "Ctrl+O"},
                 {16433, "Ctrl+1"},
                 {16434, "Ctrl+2"},
                 {0, ""},
                 {static_cast<TShortCut>(scShift | VK_F2), "Shift+F2"},
                 {static_cast<TShortCut>(scCtrl | scAlt | 'X'), "Ctrl+Alt+X"}};
    for (const Case& c : cases) EXPECT_EQ(ShortCutToText(c.shortCut), c.text) << c.shortCut;
}

namespace {
class MenuTest : public ::testing::Test {
protected:
    void SetUp() override {
        form_ = new TForm(nullptr, "TMenuTestForm");
        menu_ = new TMainMenu(form_);
        file_ = new TMenuItem(form_, menu_->Items(), "File");
        open_ = new TMenuItem(form_, file_, "Open...", 16463);
        new TMenuItem(form_, file_, "-");
        exit_ = new TMenuItem(form_, file_, "Exit");
        open_->OnClick = [this](TObject*) { ++opened_; };
        exit_->OnClick = [this](TObject*) { ++exited_; };
        menu_->Rebuild();
    }
    void TearDown() override {
        BYTE keys[256] = {0};
        SetKeyboardState(keys);
        delete form_;
    }
    TForm* form_ = nullptr;
    TMainMenu* menu_ = nullptr;
    TMenuItem *file_ = nullptr, *open_ = nullptr, *exit_ = nullptr;
    int opened_ = 0, exited_ = 0;
};
}  // namespace

TEST_F(MenuTest, CaptionsCarryTheShortcutAndCommandsReachTheHandlers) {
    HMENU popup = GetSubMenu(GetMenu(form_->Handle()), 0);
    ASSERT_NE(popup, nullptr);
    char text[64];
    GetMenuStringA(popup, 0, text, sizeof(text), MF_BYPOSITION);
    EXPECT_STREQ(text, "Open...\tCtrl+O");
    EXPECT_EQ(GetMenuState(popup, 1, MF_BYPOSITION) & MF_SEPARATOR, static_cast<UINT>(MF_SEPARATOR));
    GetMenuStringA(popup, 2, text, sizeof(text), MF_BYPOSITION);
    EXPECT_STREQ(text, "Exit");
    SendMessageA(form_->Handle(), WM_COMMAND, MAKEWPARAM(exit_->Command(), 0), 0);
    EXPECT_EQ(exited_, 1);
    EXPECT_EQ(opened_, 0);
}

TEST_F(MenuTest, ShortcutRunsTheItemOnlyWithItsModifiers) {
    MSG msg{form_->Handle(), WM_KEYDOWN, 'O', 0, 0, {0, 0}};
    BYTE keys[256] = {0};
    SetKeyboardState(keys);
    EXPECT_FALSE(menu_->IsShortCut(msg)) << "O alone";
    keys[VK_CONTROL] = 0x80;
    SetKeyboardState(keys);
    EXPECT_TRUE(menu_->IsShortCut(msg));
    EXPECT_EQ(opened_, 1);
    keys[VK_SHIFT] = 0x80;
    SetKeyboardState(keys);
    EXPECT_FALSE(menu_->IsShortCut(msg)) << "Shift+Ctrl+O";
    EXPECT_EQ(opened_, 1);
}

namespace {
class XmlTest : public ::testing::Test {
protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override { CoUninitialize(); }
};
}  // namespace

TEST_F(XmlTest, ElementsAttributesAndText) {
    TXMLDocument doc(nullptr);
    doc.SetXML(
        L"<invoke name=\"ready\" returntype=\"xml\"><arguments><number>320</number><number>240</number>"
        L"</arguments></invoke>");
    doc.SetActive(true);
    TXMLNode root = doc.DocumentElement();
    EXPECT_EQ(root.NodeName(), L"invoke");
    EXPECT_EQ(root.Attribute(L"name"), L"ready");
    EXPECT_EQ(root.Attribute(L"missing"), L"");
    EXPECT_FALSE(root.HasAttribute(L"missing"));
    ASSERT_EQ(root.ChildCount(), 1);
    TXMLNode arguments = root.ChildNode(0);
    ASSERT_EQ(arguments.ChildCount(), 2);
    EXPECT_EQ(arguments.ChildNode(0).Text(), L"320");
    EXPECT_EQ(arguments.ChildNode(1).Text(), L"240");
    EXPECT_THROW(arguments.ChildNode(2), EXMLDocError);
    EXPECT_THROW(arguments.ChildNode(-1), EXMLDocError);
    EXPECT_THROW(arguments.Text(), EXMLDocError) << "two elements are not one text node";
    EXPECT_THROW(TXMLNode().Text(), EXMLDocError);
}

TEST_F(XmlTest, TextOfElementsThatDoNotHoldJustText) {
    struct Case {
        const wchar_t* xml;
        bool raises;
        const wchar_t* text;
    } cases[] = {
        {L"<a>12</a>", false, L"12"},
        {L"<a/>", false, L""},
        {L"<a><![CDATA[x<y]]></a>", false, L"x<y"},
        {L"<a>&amp;&lt;</a>", false, L"&<"},
        {L"<a><b>1</b></a>", true, nullptr},
        {L"<a>1<b/></a>", true, nullptr},
    };
    for (const Case& c : cases) {
        TXMLDocument doc(nullptr);
        doc.SetXML(c.xml);
        doc.SetActive(true);
        TXMLNode root = doc.DocumentElement();
        if (c.raises)
            EXPECT_THROW(root.Text(), EXMLDocError) << c.xml;
        else
            EXPECT_EQ(root.Text(), c.text);
    }
}

TEST_F(XmlTest, TextThatIsNotWellFormedRaisesAndLeavesTheDocumentInactive) {
    for (const wchar_t* xml : {L"", L"<a>", L"<a></b>", L"not xml", L"<a x=1/>"}) {
        TXMLDocument doc(nullptr);
        doc.SetXML(xml);
        EXPECT_THROW(doc.SetActive(true), EDOMParseError) << xml;
        EXPECT_FALSE(doc.Active());
        EXPECT_THROW(doc.DocumentElement(), EXMLDocError);
    }
}

TEST_F(XmlTest, NewTextReplacesTheLastRequest) {
    TXMLDocument doc(nullptr);
    doc.SetXML(L"<a name=\"one\"/>");
    doc.SetActive(true);
    doc.SetXML(L"<a name=\"two\"/>");
    EXPECT_FALSE(doc.Active());
    doc.SetActive(true);
    EXPECT_EQ(doc.DocumentElement().Attribute(L"name"), L"two");
}
