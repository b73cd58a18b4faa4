// One run at a time on a device: a lock on the image's root folder, which the system lets go
// when the process ends however it ends.
#pragma once

#include <string>

// Takes the lock on the host folder strRoot for the rest of the process. False with the reason
// when another process holds it; true also when the folder cannot be opened (nothing to guard),
// with why in strError, for the person to hear before anything else goes wrong.
bool LockDeviceRoot(const std::string& strRoot, std::string& strError);
