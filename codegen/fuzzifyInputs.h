#ifndef FAZOLT_CODEGEN_FUZZIFYINPUTS_H
#define FAZOLT_CODEGEN_FUZZIFYINPUTS_H

#include "model/systemRecord.h"

// The rules' antecedents against a row's membership degrees (inputMFCache,
// createInputMFCache), in two forms that give the same values: the rule
// input values of a row whose connectives include a host function, and the
// degree table that built-in connectives read in place (fireRulesBuiltIn).

// Every rule's antecedent resolved once per call (numRules x numInputs):
// 0 for an unused input, p > 0 for cache position p, -p for its complement.
// A position outside the cache is stored as 2^31-1, which no cache reaches.
void planRuleAntecedents(const SystemRecord *fis, DynArray<int32_t> *plan);
// Fills ruleInputValues (numRules x numInputs) from the plan: an unused
// input gives the connective's neutral value, a function outside the cache
// NaN, a negated one 1 - m.
void mapRuleAntecedents(const SystemRecord *fis, const DynArray<int32_t> *plan, const DynArray<double> *inputMFCache,
                        DynArray<double> *ruleInputValues);

// The row's degree table: the cache's L values at 0..L-1, their
// complements 1 - m at L..2L-1, then four entries the same in every row.
// Named here once for the row path and the lanes.
struct DegreeTableEntries {
    int32_t one;     // 1: an AND rule's untested input
    int32_t zero;    // 0: an OR rule's untested input
    int32_t nan;     // NaN: a rule naming a function past the cache
    int32_t notNaN;  // 1 - NaN: the same, negated
};
DegreeTableEntries degreeTableEntries(int32_t cacheLength);
// Entries of the table for a cache of cacheLength degrees.
int64_t degreeTableLength(int32_t cacheLength);

// Fills the table; the complements only when readsComplements. True when
// one of the cache's values is NaN.
bool fillDegreeTable(const DynArray<double> *inputMFCache, bool readsComplements, DynArray<double> *degrees);
// Each rule's value for each input as an index into the degree table,
// rule-major (numInputs entries per rule): the same value that
// mapRuleAntecedents gives. Tells which parts of the table the rules read.
struct DegreeReads {
    bool nan;          // the NaN entries: a rule names a function past the cache
    bool complements;  // a rule negates an antecedent
};
DegreeReads planRuleDegrees(const SystemRecord *fis, int32_t cacheLength, DynArray<int32_t> *ruleDegrees);

#endif
