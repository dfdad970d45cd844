// Stand-ins for the stub's Win32 operations that the portable sources
// call: failures throw as the real ones do after their message box.
#include <string>

#include "core.h"

std::string LastFatalText;

void Unwind(int code)
{
    throw UnwindException{code};
}

void ShowFatal(const char *text)
{
    LastFatalText = text;
    Unwind(UNWIND_FAILED);
}

void ShowHeaderCorrupt()
{
    ShowFatal("header corrupt");
}

// No member data is pending in these tests: a used-up memory span ends.
int32_t RefillInput()
{
    InputAvail = 0;
    return 0;
}

void FlushOutput()
{
    OutputCount = 0;
}
