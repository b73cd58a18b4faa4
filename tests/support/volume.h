// Real file systems for the tests: a small FAT32, exFAT or ext4 volume made in /dev/shm and
// mounted on a folder of an image, as a device's flash or card is.
#pragma once

#include <string>

enum class EVolumeKind { kFat32, kExfat, kExt4 };
const char* VolumeName(EVolumeKind kind);  // "FAT32", "exFAT", "ext4"

class CTempVolume {
 public:
  // Makes a volume of nMiB and mounts it on strMountPoint (an existing empty folder): FAT32
  // through fusefat, exFAT through exfat-fuse on a loop device, ext4 on a loop device. Why()
  // says why it could not (not root, no /dev/fuse, a tool missing), naming the kind.
  CTempVolume(EVolumeKind kind, std::string strMountPoint, unsigned nMiB = 64);
  ~CTempVolume();
  CTempVolume(const CTempVolume&) = delete;
  CTempVolume& operator=(const CTempVolume&) = delete;

  bool Ok() const { return m_strWhy.empty(); }
  const std::string& Why() const { return m_strWhy; }
  // Mounts it again read-only (ext4) or read-write; false with Why() set when that fails.
  bool Remount(bool bReadOnly);
  // Unmounted, the image file can be changed as a damaged medium would be.
  bool Mount(bool bReadOnly);
  void Unmount();
  const std::string& Image() const { return m_strImage; }

 private:
  EVolumeKind m_kind;
  std::string m_strMountPoint;
  std::string m_strImage;
  std::string m_strLoop;
  std::string m_strWhy;
  bool m_bMounted = false;
};

// A folder made read-only where it stands (a bind mount of itself), as a card turned read-only;
// nothing for an empty path.
class CReadOnlyBind {
 public:
  explicit CReadOnlyBind(std::string strFolder);
  ~CReadOnlyBind();
  CReadOnlyBind(const CReadOnlyBind&) = delete;
  CReadOnlyBind& operator=(const CReadOnlyBind&) = delete;
  bool Ok() const { return m_bMounted; }
  std::string Why() const { return "read-only bind mount: needs root and mount"; }

 private:
  std::string m_strFolder;
  bool m_bMounted = false;
};

// Skips the running test with one line when the volume could not be mounted here.
#define SKIP_UNLESS_MOUNTED(volume) \
  if (!(volume).Ok()) GTEST_SKIP() << (volume).Why()
