// The Sugeno chain of one input row: output levels, rule outputs, sums and
// defuzzification.
#ifndef FAZOLT_CODEGEN_APPLYSUGENO_H
#define FAZOLT_CODEGEN_APPLYSUGENO_H

#include "codegen/defuzzMethod.h"
#include "model/systemRecord.h"

// Each rule's cache entry per output resolved once per call (numRules x
// numOutputs): the 0-based entry, or -1 when the rule says nothing.
void planSugenoRuleOutputs(const SystemRecord *fis, DynArray<int32_t> *cacheEntries);
// Fills the output function cache for the row (fillSugenoOutputCache, with
// the functions laid out once per call by planSugenoOutputCache), then
// ruleOutputs and ruleOutputLevels (orrSize, zero where no rule writes):
// rule r's level on output o is its cache entry, its output the level
// times the rule's strength. cacheEntries from planSugenoRuleOutputs.
void applySugenoImplicationMethod(const DynArray<double> *inputRow, const DynArray<double> *firingStrengths,
                                  const SystemRecord *fis, const DynArray<uint8_t> *outputKinds,
                                  const DynArray<double> *outputCoefficients, const DynArray<int32_t> *cacheEntries,
                                  DynArray<double> *cache, DynArray<double> *ruleOutputs,
                                  DynArray<double> *ruleOutputLevels);
// Output o's (0-based) aggregated value straight from the filled cache:
// the column sum that implication then aggregation would give when
// orrSize(1) >= numRules, without the rule-output block.
double sumSugenoRuleOutputs(const DynArray<double> *firingStrengths, const SystemRecord *fis,
                            const DynArray<int32_t> *cacheEntries, const DynArray<double> *cache, int32_t o);
void applySugenoAggregationMethod(const DynArray<double> *ruleOutputs, DynArray<double> *aggregatedOutputs);
// a: element o of aggregatedOutputs; handles the no-rule-fired default.
double applySugenoDefuzzificationMethod(zorbTLS *tls, int32_t o, double a, double totalFiringStrength,
                                        const SystemRecord *fis, DefuzzMethod method, const DiagnosticsOptions *diag);

#endif
