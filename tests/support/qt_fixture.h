// The Qt side of the tests: one QApplication per process on Qt's offscreen platform, a window
// backend over a fresh display and power driver for each test, and a user who answers boxes.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/host/device/power.h"
#include "platform/host/qt/simulated_display.h"
#include "platform/host/qt/window_backend.h"

// The size of the dialogs the tests show: room for the template's controls, and under the 2 x 65536
// pixels from which Qt hands image work to a thread pool of its own, whose locking
// ThreadSanitizer cannot see.
constexpr int kShownWidth = 400;
constexpr int kShownHeight = 320;

// Makes the process's QApplication (offscreen, 320 x 240 screen) the first time it is called.
void EnsureQtApplication();

// Runs the event loop until done() holds; false when it did not within the (generous) limit,
// which only a broken backend reaches.
bool PumpUntil(const std::function<bool()>& done, int nLimitMs = 30000);

// The window's text ("" for no window).
std::wstring WindowText(HWND hWnd);

// (caption, text) of message boxes.
using CBoxes = std::vector<std::pair<std::wstring, std::wstring>>;

// Notes every message box (MessageBoxW's and the program's own dialog 130) when it is first drawn
// and presses its OK button, once fnReady (when given) allows it; observes the backend for its
// lifetime.
class CBoxAnswerer : public IQtWindowObserver {
 public:
  explicit CBoxAnswerer(CQtWindowBackend& backend, std::function<bool()> fnReady = nullptr);
  ~CBoxAnswerer() override;
  // (caption, text) of every box seen, in order.
  CBoxes m_boxes;

  void OnWindowPainted(HWND hWnd) override;
  void OnMessageBoxShown(HWND hBox) override;

 private:
  void Answer(HWND hBox, HWND hText);
  CQtWindowBackend& m_backend;
  std::function<bool()> m_fnReady;
  std::set<HWND> m_seen;
};

class CQtBackendTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  CQtWindowBackend& Backend() { return *m_pBackend; }

  CHostDisplay m_display{320, 240};
  CHostPower m_power;
  std::unique_ptr<CQtWindowBackend> m_pBackend;
  IWindowBackend* m_pPrevious = nullptr;
};
