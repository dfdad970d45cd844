/*
 * unwind.cpp: failure reporting and unwinding.
 *
 * A failure that cannot be worked around is shown in a message box and
 * then abandons everything up to the innermost recovery point by raising
 * an UnwindException.  There are two recovery points: the start-up one in
 * StubMain (the program ends with exit code 0) and the extraction one in
 * ExtractAll (the run ends and its code goes to the main dialog).
 */
#include <stdarg.h>

#include "../stub.h"

const char ProductCaption[24] = "Tarvex Self-Extractor";
const char HeaderCorruptText[] =
    "Tarvex Self-Extractor header corrupt.  Possible cause:  bad disk or file transfer error";

int ExtractionArmed;
int PendingUnwind;

void Unwind(int code)
{
    throw UnwindException{code};
}

void ShowFatal(const char *text)
{
    MessageBoxA(MainWindow, text, ProductCaption, MB_OK | MB_ICONERROR);
    Unwind(UNWIND_FAILED);
}

void ShowHeaderCorrupt()
{
    ShowFatal(HeaderCorruptText);
}

BOOL AskOkCancel(const char *text)
{
    return MessageBoxA(MainWindow, text, ProductCaption, MB_OKCANCEL) == IDOK;
}

/* Called by every procedure that the system calls, with the code of an
 * unwind that reached it.  Outside an extraction run the innermost
 * recovery point is the start-up one, whose whole action is to end the
 * program at once with exit code 0: do exactly that here, without
 * letting the exception travel through the system's frames.  During a
 * run, keep the code until control is back in the stub's own code. */
void SettleUnwind(int code)
{
    if (!ExtractionArmed)
        ExitProcess(0);
    if (PendingUnwind == 0)
        PendingUnwind = code;
}

void RaisePendingUnwind()
{
    int code = PendingUnwind;
    if (code != 0) {
        PendingUnwind = 0;
        Unwind(code);
    }
}

/* Format a catalog text into MessageBuffer.  The platform formatter writes
 * at most 1024 characters; the result is cut to what MessageBuffer holds,
 * so no argument can overrun it. */
const char *FormatText(const char *format, ...)
{
    char wide[1025];
    va_list args;
    va_start(args, format);
    wvsprintfA(wide, format, args);
    va_end(args);
    lstrcpynA(MessageBuffer, wide, MESSAGE_BUFFER_SIZE);
    return MessageBuffer;
}
