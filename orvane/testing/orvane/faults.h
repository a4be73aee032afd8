// The host's fault switches, for tests only: they make an allocation or a
// module's call of the host fail on purpose, to check that every failure
// unwinds cleanly. Not installed; liborvane exports them for the test
// programs, which link it like any user.
#ifndef ORVANE_FAULTS_H
#define ORVANE_FAULTS_H

#include <orvane/zorb.h>

#include <cstdint>

namespace orvane {

// ---- Allocation fault switch.
// Makes this thread's allocation request number n (1-based, counted from
// this call) fail with "ZORB:runTime:OutOfMemory". persistent: every request
// from n on fails. n = 0 disarms the switch.
ORVANE_API void failAllocationAt(int64_t n, bool persistent = false);

// ---- Host-call fault switch. Counts the module's calls of the entry points
// that can raise or give back a value: zorbCallOrvane, the zorbCheck* checks,
// the value constructors (zorbCreate*, zorbQuvCreate*), zorbCoerceToClass,
// zorbGetField, zorbImportArray, the field setters, zorbInitCharArray and
// zorbPushHeapReferenceStack. The host's own value makers are not counted.
//   Raise:      the call raises "Orvane:injected:HostCall" before doing
//               anything (a call by name still drops consumed arguments).
//   WrongClass: the value given back is a 1 x 1 struct instead;
//   WrongShape: it is a 2 x 3 double matrix of zeros instead. Both apply only
//               to the values the module checks before it reads them:
//               result 1 of zorbCallOrvane and the value of
//               zorbCoerceToClass; elsewhere the call runs normally.
enum class HostFault { None, Raise, WrongClass, WrongShape };
// Makes counted call number n (1-based, counted from this call) fail with
// `fault`, once. n = 0 or HostFault::None disarms the switch.
ORVANE_API void failHostCallAt(int64_t n, HostFault fault);
// Counted calls since the process started.
ORVANE_API int64_t hostCallCount();
// Whether the fault armed last was applied (a WrongClass or WrongShape fault
// armed on a call that gives back no checked value is not).
ORVANE_API bool hostFaultInjected();

}  // namespace orvane

#endif
