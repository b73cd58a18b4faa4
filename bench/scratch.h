// The benchmark's scratch trees, gone on every exit: the work runs in a child process while this
// one waits, so a failure, a crash or a signal still ends with the trees removed and the volumes
// mounted under them unmounted.
#pragma once

#include <functional>
#include <string>

// Runs fnWork in a child process and returns its exit status; SIGINT, SIGTERM, SIGHUP and SIGQUIT
// are passed on to it. Afterwards every mount below strRoot is detached and strRoot removed; a
// child ended by a signal ends this process by the same signal.
int RunWithScratch(const std::string& strRoot, const std::function<int()>& fnWork);

// Makes a volume of the kind ("ext4", "fat") in the image file and mounts it on the existing
// folder strDir (ext4 on a loop device, FAT32 through fusefat); false with the reason.
bool MountScratchVolume(const std::string& strKind, const std::string& strImage,
                        const std::string& strDir, std::string& strWhy);
