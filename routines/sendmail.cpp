#include "routines/sendmail.h"

#include "classlib/forms.h"
#include "routines/msgbox.h"

namespace {
const ULONG kMapiSendFlags = MAPI_LOGON_UI | MAPI_DIALOG;  // 9
const int kNoMailSystem = -1;
const ULONG kMapiSuccess = 0, kMapiUserAbort = 1;

char* Text(std::string& s) { return s.empty() ? nullptr : s.data(); }

// A sender or recipient: shown by its name, or by its address when it has none.
void FillRecipient(MapiRecipDesc& desc, ULONG recipClass, const std::string& name, const std::string& address,
                   std::string& nameText, std::string& addressText) {
    nameText = name.empty() ? address : name;
    addressText = "SMTP:" + address;
    desc.ulRecipClass = recipClass;
    desc.lpszName = nameText.data();
    desc.lpszAddress = addressText.data();
}
// The mail client's windows belong to the application's window. The call is modal for the whole
// program: while the compose window is open, no other window of it (the About box's support link,
// the main menu) can start a second mail; the window that was active gets the activation back.
int SendModally(LPMAPISENDMAIL send, MapiMessage& message) {
    HWND active = GetActiveWindow();
    int result;
    {
        TDisabledWindows program(nullptr);
        result = static_cast<int>(
            send(0, reinterpret_cast<ULONG_PTR>(Application->Handle()), &message, kMapiSendFlags, 0));
    }
    if (active && IsWindow(active)) SetActiveWindow(active);
    return result;
}
}  // namespace

void FillMailRecords(TMailRecords& r, const std::string& subject, const std::string& body,
                     const std::string& senderName, const std::string& senderAddress, const std::string& recipientName,
                     const std::string& recipientAddress, const std::string& attachment) {
    r.message = MapiMessage{};
    r.sender = MapiRecipDesc{};
    r.recipient = MapiRecipDesc{};
    r.attachment = MapiFileDesc{};
    r.subject = subject;
    r.body = body;
    r.message.lpszSubject = Text(r.subject);
    r.message.lpszNoteText = Text(r.body);
    if (!senderAddress.empty()) {
        FillRecipient(r.sender, MAPI_ORIG, senderName, senderAddress, r.senderName, r.senderAddress);
        r.message.lpOriginator = &r.sender;
    }
    if (!recipientAddress.empty()) {
        FillRecipient(r.recipient, MAPI_TO, recipientName, recipientAddress, r.recipientName, r.recipientAddress);
        r.message.nRecipCount = 1;
        r.message.lpRecips = &r.recipient;
    }
    if (!attachment.empty()) {
        r.attachmentPath = attachment;
        r.attachment.nPosition = 0xFFFFFFFF;
        r.attachment.lpszPathName = r.attachmentPath.data();
        r.message.nFileCount = 1;
        r.message.lpFiles = &r.attachment;
    }
}

int SendMail(const std::string& subject, const std::string& body, const std::string& senderName,
             const std::string& senderAddress, const std::string& recipientName, const std::string& recipientAddress,
             const std::string& attachment) {
    TMailRecords records;
    FillMailRecords(records, subject, body, senderName, senderAddress, recipientName, recipientAddress, attachment);
    int result = kNoMailSystem;
    if (HMODULE mapi = LoadLibraryA("MAPI32.DLL")) {
        auto send = reinterpret_cast<LPMAPISENDMAIL>(GetProcAddress(mapi, "MAPISendMail"));
        if (send) result = SendModally(send, records.message);
        FreeLibrary(mapi);
    }
    if (result != static_cast<int>(kMapiSuccess) && result != static_cast<int>(kMapiUserAbort))
        MsgBox("Error sending mail!", MsgBoxError);
    return result;
}
