// The record of a System imported and checked by the module once, for the
// System's Evaluators (api/evaluator.cpp).
#ifndef FAZOLT_API_PREPARED_RECORD_H
#define FAZOLT_API_PREPARED_RECORD_H

#include <orvane/host.h>

#include <memory>

namespace fazolt {

struct PreparedRecord;

// Nothing is imported until the first Evaluator asks.
std::shared_ptr<PreparedRecord> preparedRecordOf(std::shared_ptr<orvane::Module> module, orvane::Value record);

}  // namespace fazolt

#endif
