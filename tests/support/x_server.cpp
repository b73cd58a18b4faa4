#include "tests/support/x_server.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

CXServer::CXServer(int nWidth, int nHeight) : m_nWidth(nWidth), m_nHeight(nHeight) {
  int fds[2];
  if (::pipe(fds) != 0) {
    m_strWhy = "no pipe";
    return;
  }
  const std::string screen = std::to_string(nWidth) + "x" + std::to_string(nHeight) + "x24";
  const std::string fd = std::to_string(fds[1]);
  m_pid = ::fork();
  if (m_pid == 0) {
    ::close(fds[0]);
    ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten",
             "tcp", "-noreset", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  // Xvfb writes its display number once it accepts connections, or ends.
  std::string number;
  char c = 0;
  pollfd pfd{fds[0], POLLIN, 0};
  while (::poll(&pfd, 1, 30000) == 1 && ::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  ::close(fds[0]);
  if (number.empty()) {
    m_strWhy = "Xvfb did not start (is the xvfb package installed?)";
    return;
  }
  m_strDisplay = ":" + number;
  xcb_connection_t* pConnection = xcb_connect(m_strDisplay.c_str(), nullptr);
  if (xcb_connection_has_error(pConnection)) {
    xcb_disconnect(pConnection);
    m_strWhy = "cannot connect to Xvfb on " + m_strDisplay;
    return;
  }
  m_pConnection = pConnection;
  m_nRoot = xcb_setup_roots_iterator(xcb_get_setup(m_pConnection)).data->root;
}

CXServer::~CXServer() {
  if (m_pConnection) xcb_disconnect(m_pConnection);
  if (m_pid > 0) {
    ::kill(m_pid, SIGTERM);
    ::waitpid(m_pid, nullptr, 0);
  }
}

QImage CXServer::Grab() {
  if (!m_pConnection) return QImage();
  xcb_get_image_cookie_t cookie =
      xcb_get_image(m_pConnection, XCB_IMAGE_FORMAT_Z_PIXMAP, m_nRoot, 0, 0,
                    static_cast<uint16_t>(m_nWidth), static_cast<uint16_t>(m_nHeight), ~0u);
  std::unique_ptr<xcb_get_image_reply_t, decltype(&std::free)> reply(
      xcb_get_image_reply(m_pConnection, cookie, nullptr), &std::free);
  const size_t nBytes = static_cast<size_t>(m_nWidth) * m_nHeight * 4;
  if (!reply || static_cast<size_t>(xcb_get_image_data_length(reply.get())) < nBytes)
    return QImage();
  // Depth 24 in 32-bit pixels, blue first: the layout of RGB32 but for the unused byte.
  QImage image(m_nWidth, m_nHeight, QImage::Format_RGB32);
  std::memcpy(image.bits(), xcb_get_image_data(reply.get()), nBytes);
  for (int y = 0; y < m_nHeight; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < m_nWidth; ++x) line[x] |= 0xFF000000u;
  }
  return image;
}

void CXServer::Click(int x, int y) {
  if (!m_pConnection) return;
  xcb_test_fake_input(m_pConnection, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, m_nRoot,
                      static_cast<int16_t>(x), static_cast<int16_t>(y), 0);
  xcb_test_fake_input(m_pConnection, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
  xcb_test_fake_input(m_pConnection, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
  // A round trip: the server has handled the events when its answer comes.
  std::free(xcb_get_input_focus_reply(m_pConnection, xcb_get_input_focus(m_pConnection), nullptr));
}
