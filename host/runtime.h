// The module's view of the host run-time: the host's C interface and scalar
// math, and the run-time context of the call in progress.
#ifndef FAZOLT_HOST_RUNTIME_H
#define FAZOLT_HOST_RUNTIME_H

#include <orvane/scalar_math.h>
#include <orvane/zorb.h>

// The module-global run-time context: live during a call, null otherwise.
extern zorbTLS *fazoltTLS;

#define FAZOLT_EXPORT __attribute__((visibility("default")))

#endif
