/*
 * pump.cpp: keeping the window alive during long work.
 *
 * PumpMessages drains the queue without blocking.  AskAbort is the
 * extraction's own pump: a key press or click aimed at the main dialog
 * asks whether to abort, mouse movement keeps the hourglass, and every
 * other message is dispatched as usual.
 */
#include "../stub.h"

void SetCurrentCursor(HCURSOR cursor)
{
    SetCursor(cursor);
}

void PumpMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT)
            return;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        RaisePendingUnwind();
    }
}

int AskAbort()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        switch (msg.message) {
        case WM_SETCURSOR:
        case WM_NCMOUSEMOVE:
        case WM_MOUSEMOVE:
            SetCurrentCursor(WaitCursor);
            continue;
        case WM_CHAR:
            /* Only a key going down counts. */
            if (!(msg.lParam & 0x80000000))
                continue;
            [[fallthrough]];
        case WM_VKEYTOITEM:
        case WM_NCLBUTTONDOWN:
        case WM_NCLBUTTONDBLCLK:
        case WM_KEYDOWN:
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
            if (MainWindow == nullptr || (msg.hwnd != MainWindow && GetParent(msg.hwnd) != MainWindow))
                continue;
            return MessageBoxA(MainWindow, CatalogEntry(20), ProductCaption,
                               MB_DEFBUTTON2 | MB_ICONQUESTION | MB_YESNO) == IDYES;
        default:
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            RaisePendingUnwind();
        }
    }
    return 0;
}
