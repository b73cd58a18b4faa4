// The application object: runs the recovery dialog modally and ends the program.
#pragma once

#include "platform/afxwin.h"

class CRecoveryApp : public CWinApp {
 public:
  CRecoveryApp();
  // Runs the recovery dialog modally; FALSE: the program ends when it returns.
  BOOL InitInstance() override;

  DECLARE_MESSAGE_MAP()
};

// The one application object.
extern CRecoveryApp theApp;
