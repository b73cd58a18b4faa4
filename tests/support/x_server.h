// A virtual X screen of a test's own (Xvfb): its display name, a picture of the whole screen, and
// clicks as a person's, through the server's test extension.
#pragma once

#include <sys/types.h>

#include <QImage>
#include <string>

struct xcb_connection_t;

class CXServer {
 public:
  // Starts Xvfb with one nWidth x nHeight screen on a free display; Why() says why it did not.
  CXServer(int nWidth, int nHeight);
  ~CXServer();
  CXServer(const CXServer&) = delete;
  CXServer& operator=(const CXServer&) = delete;

  bool Ok() const { return m_pConnection != nullptr; }
  const std::string& Why() const { return m_strWhy; }
  const std::string& Display() const { return m_strDisplay; }  // ":N"
  // The whole screen as shown now; a null image when it cannot be read.
  QImage Grab();
  // A press and release of the first button at x, y of the screen, processed by the server.
  void Click(int x, int y);

 private:
  pid_t m_pid = -1;
  std::string m_strDisplay;
  std::string m_strWhy;
  xcb_connection_t* m_pConnection = nullptr;
  unsigned m_nRoot = 0;
  int m_nWidth;
  int m_nHeight;
};
