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
        if (send) {
            HWND parent = Application->MainForm() ? Application->MainForm()->Handle() : Application->Handle();
            result = static_cast<int>(
                send(0, reinterpret_cast<ULONG_PTR>(parent), &records.message, kMapiSendFlags, 0));
        }
        FreeLibrary(mapi);
    }
    if (result != static_cast<int>(kMapiSuccess) && result != static_cast<int>(kMapiUserAbort))
        MsgBox("Error sending mail!", MsgBoxError);
    return result;
}
