#include "converter/startup.h"

#include "classlib/forms.h"
#include "classlib/registry.h"
#include "converter/mainform.h"
#include "routines/msgbox.h"

const char* const MsgBoxCaption = "Corvelline Converter";
const char* const GlimmerdeckKey = "\\Software\\Corvelline\\Glimmerdeck";
const char* const AutoConvertValue = "AutoConvert";

bool HasParams() { return ParamCount() > 0; }

bool AutoConvertDisabled() {
    TRegistry registry(KEY_READ);
    registry.SetRootKey(HKEY_CURRENT_USER);
    if (!registry.OpenKeyReadOnly(GlimmerdeckKey)) return false;
    if (!registry.ValueExists(AutoConvertValue)) return false;
    try {
        return !registry.ReadBool(AutoConvertValue);
    } catch (const ERegistryException&) {
        // A value of another type says nothing about the user's choice: it counts as missing.
        return false;
    }
}

int ConverterStartup() {
    if (HasParams() && AutoConvertDisabled()) return 0;
    try {
        Application->Initialize();
        Application->SetTitle("Corvelline Video Converter");
        Application->CreateForm(Form1);
        Application->Run();
    } catch (const std::exception& error) {
        // No dialog could be made (no display, a damaged resource): say so instead of crashing.
        Application->ShowException(error);
        return 1;
    }
    return 0;
}
