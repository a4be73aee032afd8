// The module's view of the host run-time: the host's C interface and scalar
// math, and the run-time context of the call in progress.
#ifndef FAZOLT_HOST_RUNTIME_H
#define FAZOLT_HOST_RUNTIME_H

#include <orvane/scalar_math.h>
#include <orvane/zorb.h>

// The run-time context of this thread's call in progress: null otherwise.
// One per thread, so that threads call the module at once; a nested call on
// the same thread (a host function evaluating) puts the outer one back.
// Initial-exec: the module is loaded with dlopen, and a dynamic TLS slot would
// cost a __tls_get_addr call on every use (and confuses LeakSanitizer's scan of
// dynamic TLS); one pointer fits the static TLS that glibc keeps for such loads.
extern thread_local zorbTLS *fazoltTLS __attribute__((tls_model("initial-exec")));

#define FAZOLT_EXPORT __attribute__((visibility("default")))

#endif
