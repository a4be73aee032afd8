// An output's "default": its value on a row where no rule fired, set by the
// host after the module's call, as "clamp" is. Internal to the API library.
#ifndef FAZOLT_API_OUTPUT_DEFAULTS_H
#define FAZOLT_API_OUTPUT_DEFAULTS_H

#include <orvane/host.h>

#include <optional>
#include <vector>

namespace fazolt {

// Per output, its default or nothing; empty when no output has one.
using OutputDefaults = std::vector<std::optional<double>>;

// Replaces, in `outputs` (rows x outputs, the module's first result for
// `inputs`, the rows as the module saw them), the value of each output that
// has a default on each row where no rule fired. The module gives the range's
// midpoint there; a row showing a midpoint is evaluated again alone to ask
// the module whether a rule fired, so other rows cost nothing.
void applyOutputDefaults(orvane::Module &module, const orvane::Value &record, const orvane::Value &inputs,
                         const OutputDefaults &defaults, orvane::Value &outputs);

}  // namespace fazolt

#endif
