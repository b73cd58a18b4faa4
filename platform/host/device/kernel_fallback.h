// Kernel calls that older device kernels lack (Linux before 5.6): each has an older way.
#pragma once

// The calls with an older way: openat2 (paths walked name by name instead), pidfd_open and
// pidfd_send_signal (kill and /proc polled instead).
enum class EKernelCall { Openat2, Pidfd };

// True when the older way is taken: the kernel refuses the call (ENOSYS, or EPERM from a
// filter), or ORVANE_KERNEL_FALLBACK names it ("openat2", "pidfd", comma separated; read once,
// any other word ignored with one line on standard error).
bool UseKernelFallback(EKernelCall eCall);
