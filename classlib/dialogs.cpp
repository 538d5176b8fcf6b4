#include "classlib/dialogs.h"

#include <windows.h>
#include <commdlg.h>

#include <vector>

bool TOpenDialog::Execute() {
    // The filter's '|' separators become the zeros the system expects, with a double zero at the end.
    std::string filter = Filter;
    for (char& c : filter)
        if (c == '|') c = '\0';
    filter.append(2, '\0');
    std::vector<char> file(MAX_PATH * 4, 0);
    lstrcpynA(file.data(), FileName.c_str(), static_cast<int>(file.size()));
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = GetActiveWindow();
    ofn.lpstrFilter = Filter.empty() ? nullptr : filter.c_str();
    ofn.nFilterIndex = static_cast<DWORD>(FilterIndex);
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrInitialDir = InitialDir.empty() ? nullptr : InitialDir.c_str();
    ofn.lpstrTitle = Title.empty() ? nullptr : Title.c_str();
    ofn.lpstrDefExt = DefaultExt.empty() ? nullptr : DefaultExt.c_str();
    ofn.Flags = OFN_ENABLESIZING | OFN_EXPLORER | OFN_HIDEREADONLY;
    if (!GetOpenFileNameA(&ofn)) return false;
    FileName = file.data();
    FilterIndex = static_cast<int>(ofn.nFilterIndex);
    return true;
}
