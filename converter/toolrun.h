// Running the conversion tool hidden while the dialog stays responsive, and the Shift test.
#pragma once
#include <string>

// Starts program hidden with the argument string and waits for it to end, handling the
// application's messages every 100 ms meanwhile. False only when the start failed.
bool ExecuteAndWait(const std::string& program, const std::string& params);

// True when the Shift key was down in the input this thread has handled.
bool IsShiftDown();
