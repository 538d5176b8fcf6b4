// The major version of the installed Flash Player control, found through the registry.
#pragma once

// 0 when the control's registration, its file or the file's version resource is missing.
int GetFlashVersion();
