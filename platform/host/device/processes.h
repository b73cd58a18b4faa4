// The device's processes on the host: host processes whose program file lies in the device image.
#pragma once

#include <sys/types.h>

#include <memory>
#include <vector>

#include "platform/device_backend.h"
#include "platform/host/device/image.h"

// Running programs of the device from /proc, ascending pid; the image name is the file name of
// the program file. With the whole host as image, every process with a readable program file.
std::vector<CProcessInfo> SnapshotHostProcesses(const CDeviceImage& image);

// A process of the device, held by a pidfd: termination is SIGKILL, the wait a poll on the pidfd
// (without pidfds: its /proc folder holds it, kill only while that folder shows it running, the
// wait polls the folder). Null with the code: the calling process itself 5, a process outside the
// image 5, no such process 87.
std::shared_ptr<CProcessObject> OpenHostProcess(const CDeviceImage& image, DWORD dwPid);

// True when the file (device and inode) is the program file of a running process: such a file
// cannot be deleted or overwritten on the device.
bool IsRunningProgramFile(dev_t dev, ino_t ino);
