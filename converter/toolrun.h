// Running the conversion tool hidden while the dialog stays responsive, and the Shift test.
#pragma once
#include <string>

// Starts program hidden with the argument string and waits for it to end, handling the
// application's messages every 100 ms meanwhile. False only when the start failed.
bool ExecuteAndWait(const std::string& program, const std::string& params);

// The same run with the program's error output written into the file errorLog, made anew; its
// standard input and output are the null device, so that a question it asks ends at once. The
// program is started directly, with no command interpreter reading the names on the way. When
// the start fails the reason goes into the log, and the result is false.
bool ExecuteAndWaitLogging(const std::string& program, const std::string& params, const std::string& errorLog);

// True when the Shift key was down in the input this thread has handled.
bool IsShiftDown();
