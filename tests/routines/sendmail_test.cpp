#include "routines/sendmail.h"

#include <gtest/gtest.h>

namespace {
std::string Str(const char* s) { return s ? s : "<null>"; }
}  // namespace

TEST(SendMailRecords, EmptyArgumentsLeaveTheirPartsOut) {
    struct Case {
        const char* name;
        std::string subject, body, senderName, senderAddress, recipientName, recipientAddress, attachment;
        std::string wantSubject, wantBody;
        bool wantSender;
        std::string wantSenderName, wantSenderAddress;
        ULONG wantRecipients;
        std::string wantRecipientName, wantRecipientAddress;
        ULONG wantFiles;
    } cases[] = {
        {"feedback", "Corvelline Flash Player Feed Back", "", "", "", "", "support@corvelline.example", "",
         "Corvelline Flash Player Feed Back", "<null>", false, "", "", 1, "support@corvelline.example",
         "SMTP:support@corvelline.example", 0},
        {"everything empty", "", "", "", "", "", "", "", "<null>", "<null>", false, "", "", 0, "", "", 0},
        {"named sender and recipient, body, attachment", "S", "B", "Ann", "ann@x.example", "Bob", "bob@y.example",
         "C:\\a.txt", "S", "B", true, "Ann", "SMTP:ann@x.example", 1, "Bob", "SMTP:bob@y.example", 1},
        {"sender without a name takes the address", "", "", "", "ann@x.example", "", "", "", "<null>", "<null>", true,
         "ann@x.example", "SMTP:ann@x.example", 0, "", "", 0},
        {"a name without an address sends to no one", "", "", "Ann", "", "Bob", "", "", "<null>", "<null>", false, "",
         "", 0, "", "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TMailRecords r;
        FillMailRecords(r, c.subject, c.body, c.senderName, c.senderAddress, c.recipientName, c.recipientAddress,
                        c.attachment);
        const MapiMessage& m = r.message;
        EXPECT_EQ(Str(m.lpszSubject), c.wantSubject);
        EXPECT_EQ(Str(m.lpszNoteText), c.wantBody);
        EXPECT_EQ(m.lpszMessageType, nullptr);
        EXPECT_EQ(m.flFlags, 0u);
        ASSERT_EQ(m.lpOriginator != nullptr, c.wantSender);
        if (c.wantSender) {
            EXPECT_EQ(m.lpOriginator->ulRecipClass, ULONG(MAPI_ORIG));
            EXPECT_EQ(Str(m.lpOriginator->lpszName), c.wantSenderName);
            EXPECT_EQ(Str(m.lpOriginator->lpszAddress), c.wantSenderAddress);
        }
        ASSERT_EQ(m.nRecipCount, c.wantRecipients);
        EXPECT_EQ(m.lpRecips != nullptr, c.wantRecipients == 1);
        if (c.wantRecipients) {
            EXPECT_EQ(m.lpRecips->ulRecipClass, ULONG(MAPI_TO));
            EXPECT_EQ(Str(m.lpRecips->lpszName), c.wantRecipientName);
            EXPECT_EQ(Str(m.lpRecips->lpszAddress), c.wantRecipientAddress);
            EXPECT_EQ(m.lpRecips->ulEIDSize, 0u);
        }
        ASSERT_EQ(m.nFileCount, c.wantFiles);
        if (c.wantFiles) {
            EXPECT_EQ(m.lpFiles->nPosition, 0xFFFFFFFFu);
            EXPECT_EQ(Str(m.lpFiles->lpszPathName), c.attachment);
            EXPECT_EQ(m.lpFiles->lpszFileName, nullptr);
        }
    }
}
