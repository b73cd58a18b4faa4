// Display orientation, the shell's task bar, the full-screen work area and the device restart.
#pragma once

#include "platform/afxwin.h"

// Turns the display (DMDO_0 normal, DMDO_90 turned); TRUE when the display took it. A display
// that refuses the orientation query is left unchanged.
BOOL SetScreenOrientation(int nOrientation);
// Applies the show command (SW_HIDE, SW_SHOW) to the "HHTaskBar" window, if there is one.
void ShowTaskBar(int nCmdShow);
// Task bar shown or hidden, work area the whole screen (plus nExtraHeight below), a 100 ms pause,
// then pWnd moved to (0, 0) at the screen's size.
void SetFullScreen(CWnd* pWnd, int nCmdShow, int nExtraHeight);
// Power driver "PWR1:" told (code 7, value 1) and closed, then the restart requested; returns
// the request's result (normally it never returns).
BOOL RebootDevice();
