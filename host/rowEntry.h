// The entry for one row per call: a system record imported and checked
// once, then evaluators that each evaluate rows on storage of their own.
// The caller runs fazolt_prepareSystem, fazolt_createRowEvaluator and, when
// fazolt_rowCallsHost says so, fazolt_evaluateRow inside a host call context
// (tls); a row that calls no host function needs none (tls null).
#ifndef FAZOLT_HOST_ROWENTRY_H
#define FAZOLT_HOST_ROWENTRY_H

#include "model/systemRecord.h"

#include <orvane/zorb.h>

struct PreparedSystem;
struct RowEvaluator;

extern "C" {

// Raises what the module entry raises for the record ("fis") on rows of
// numInputs values.
using FazoltPrepareSystem = PreparedSystem *(*)(zorbTLS *tls, const zorbArray *record);
using FazoltReleasePreparedSystem = void (*)(PreparedSystem *system);
// Raises what the entry raises on a first row of built-in functions.
using FazoltCreateRowEvaluator = RowEvaluator *(*)(zorbTLS *tls, const PreparedSystem *system);
using FazoltReleaseRowEvaluator = void (*)(RowEvaluator *evaluator);
using FazoltRowCallsHost = bool (*)(const RowEvaluator *evaluator);
// row: numInputs values; outputs: numOutputs values. With keepsIntermediates,
// fazolt_rowIntermediate(k) is result k + 1 of that row afterwards (k = 1..5),
// rows x cols values column by column.
using FazoltEvaluateRow = void (*)(zorbTLS *tls, RowEvaluator *evaluator, const double *row, double *outputs,
                                   bool keepsIntermediates, DiagnosticsSeen *seen);
using FazoltRowIntermediate = const double *(*)(const RowEvaluator *evaluator, int32_t k, int32_t *rows, int32_t *cols);
}

#endif
