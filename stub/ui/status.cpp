/*
 * status.cpp: the main dialog's status line during extraction.
 */
#include "../stub.h"

enum { STATUS_CONTROL = 109 };

void FormatUnzipStatus(char *buffer)
{
    wsprintfA(buffer, CatalogEntry(44), LastComponent(OutputName));
}

void ShowUnzipStatus()
{
    if (MeterShown)
        return;
    char text[NAME_SIZE + 32];
    FormatUnzipStatus(text);
    HWND status = GetDlgItem(MainWindow, STATUS_CONTROL);
    SetWindowTextA(status, text);
    InvalidateRect(status, nullptr, FALSE);
}
