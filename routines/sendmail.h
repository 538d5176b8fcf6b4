// Feedback mail through Simple MAPI, loaded by name at run time.
#pragma once
#include <windows.h>
#include <mapi.h>

#include <string>

// The Simple MAPI records of one message and the texts they point into.
struct TMailRecords {
    MapiMessage message{};
    MapiRecipDesc sender{};
    MapiRecipDesc recipient{};
    MapiFileDesc attachment{};
    std::string subject, body, senderName, senderAddress, recipientName, recipientAddress, attachmentPath;
    TMailRecords() = default;
    TMailRecords(const TMailRecords&) = delete;
    TMailRecords& operator=(const TMailRecords&) = delete;
};

// Fills the records: a part whose text is empty is left out of the message.
void FillMailRecords(TMailRecords& records, const std::string& subject, const std::string& body,
                     const std::string& senderName, const std::string& senderAddress, const std::string& recipientName,
                     const std::string& recipientAddress, const std::string& attachment);

// Hands the message to the mail client's compose window (flags MAPI_LOGON_UI | MAPI_DIALOG, the
// application's window as parent; the program's windows wait for it) and returns its result, -1
// when there is no mail system; every result but 0 (sent) and 1 (cancelled) shows
// "Error sending mail!".
int SendMail(const std::string& subject, const std::string& body, const std::string& senderName,
             const std::string& senderAddress, const std::string& recipientName, const std::string& recipientAddress,
             const std::string& attachment);
