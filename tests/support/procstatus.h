// The kernel's memory figures of a process, for tests and benchmarks that watch memory.
#pragma once

#include <QtGlobal>

namespace ProcStatus {

// A field of /proc/<pid>/status such as "VmRSS:" or "VmHWM:", in KiB; -1 when unreadable.
long kib(qint64 pid, const char *field);

} // namespace ProcStatus
