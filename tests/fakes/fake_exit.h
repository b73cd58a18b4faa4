// The program's exit, intercepted: ExitProgram throws CFakeExit so that a test can catch it
// around DoModal and inspect what the program left behind.
#pragma once

// What ExitProgram threw; not a std::exception, so no handler of the program swallows it.
struct CFakeExit {
  int nCode;
};

// Sets the exit hook for the scope; removes it afterwards.
class CFakeExitScope {
 public:
  CFakeExitScope();
  ~CFakeExitScope();
  CFakeExitScope(const CFakeExitScope&) = delete;
  CFakeExitScope& operator=(const CFakeExitScope&) = delete;
};
