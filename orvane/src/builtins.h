// Host functions that every Orvane process knows by name: "feval",
// "sprintf", "length", "transpose", "throwWarning", "throwError", and the
// standard library "min", "max", "sum", "prod", "mean".
#ifndef ORVANE_SRC_BUILTINS_H
#define ORVANE_SRC_BUILTINS_H

namespace orvane {
// Called once, before the first lookup of a function by name.
void registerBuiltinFunctions();
}  // namespace orvane

#endif
