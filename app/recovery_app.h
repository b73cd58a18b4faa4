// The application object: runs the recovery dialog modally and ends the program.
#pragma once

#include "platform/afxwin.h"

class CRecoveryApp : public CWinApp {
 public:
  CRecoveryApp();
  BOOL InitInstance() override;
};

// The one application object.
extern CRecoveryApp theApp;
