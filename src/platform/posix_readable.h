// The two ways the POSIX memory test asks the kernel whether bytes can be
// read; each reports a bad address as EFAULT instead of faulting. Separate so
// that both can be tested on every machine.
#pragma once

#include <cstddef>

namespace nxtka::platform {

enum class Probe { Readable, Unreadable, Unavailable };

// Copies the bytes out of the own process with process_vm_readv.
// Unavailable where the system refuses the call (seccomp, no such call).
Probe probeByVmRead(const void* p, std::size_t bytes);

// Writes the bytes into a pipe. Unavailable when no pipe can be made.
Probe probeByPipe(const void* p, std::size_t bytes);

}  // namespace nxtka::platform
