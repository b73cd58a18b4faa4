// Collects the diagnostic lines (DiagPrintA/DiagPrintW) for a test instead of printing them.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "platform/runtime.h"

// Installs itself as the diagnostic sink for its lifetime; the previous capture (or standard
// output) is restored afterwards. Thread-safe: both threads may print while the test reads.
class COldDiagCapture {
 public:
  COldDiagCapture() : m_pPrevious(s_pCurrent.exchange(this)) {
    SetDiagSink(&COldDiagCapture::Sink);
  }
  ~COldDiagCapture() {
    s_pCurrent = m_pPrevious;
    SetDiagSink(m_pPrevious ? &COldDiagCapture::Sink : nullptr);
  }
  COldDiagCapture(const COldDiagCapture&) = delete;
  COldDiagCapture& operator=(const COldDiagCapture&) = delete;

  // The text of every print call, in order, UTF-8, exactly as printed ("dest:A.EXE\r\n").
  std::vector<std::string> Lines() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_arrLines;
  }
  // All of it as one text.
  std::string Text() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string out;
    for (const auto& line : m_arrLines) out += line;
    return out;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_arrLines.clear();
  }

 private:
  static void Sink(const std::string& strUtf8) {
    if (COldDiagCapture* self = s_pCurrent.load()) {
      std::lock_guard<std::mutex> lock(self->m_mutex);
      self->m_arrLines.push_back(strUtf8);
    }
  }

  static inline std::atomic<COldDiagCapture*> s_pCurrent{nullptr};
  COldDiagCapture* m_pPrevious;
  mutable std::mutex m_mutex;
  std::vector<std::string> m_arrLines;
};
