#pragma once
// What this process uses, read from /proc and the C library: CPU time of the whole process and of
// single threads, resident memory, and the machine's load average.
#include <string>

// CPU seconds of every thread of this process so far (user + system).
double ProcessCpuSeconds();
// The calling thread's id as the kernel names it (for ThreadCpuSeconds from another thread).
int CurrentThreadId();
// CPU seconds of thread `tid` of this process (user + system, clock-tick resolution); 0 when gone.
double ThreadCpuSeconds(int tid);
// Resident memory now and at its peak, in KiB; 0 when unreadable.
long ResidentKiB();
long PeakResidentKiB();
// The first three fields of /proc/loadavg ("1.02 0.98 0.75").
std::string LoadAverage();
