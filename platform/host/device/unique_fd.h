// An owned file descriptor, closed when it goes.
#pragma once

#include <unistd.h>

#include <utility>

class CUniqueFd {
 public:
  CUniqueFd() = default;
  explicit CUniqueFd(int fd) : m_fd(fd) {}
  CUniqueFd(CUniqueFd&& o) noexcept : m_fd(std::exchange(o.m_fd, -1)) {}
  CUniqueFd& operator=(CUniqueFd&& o) noexcept {
    if (this != &o) Reset(std::exchange(o.m_fd, -1));
    return *this;
  }
  CUniqueFd(const CUniqueFd&) = delete;
  CUniqueFd& operator=(const CUniqueFd&) = delete;
  ~CUniqueFd() { Reset(); }

  int Get() const { return m_fd; }
  bool IsValid() const { return m_fd >= 0; }
  int Release() { return std::exchange(m_fd, -1); }
  void Reset(int fd = -1) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
  }

 private:
  int m_fd = -1;
};
