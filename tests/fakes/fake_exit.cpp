#include "tests/fakes/fake_exit.h"

#include "platform/runtime.h"

namespace {

void ThrowExit(int nCode) { throw CFakeExit{nCode}; }

}  // namespace

CFakeExitScope::CFakeExitScope() { SetExitHook(&ThrowExit); }
CFakeExitScope::~CFakeExitScope() { SetExitHook(nullptr); }
