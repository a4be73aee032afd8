// The imported fuzzy inference system (25 fields, host struct order) and the
// diagnostics options (6 fields). Indices stored in the record are 1-based.
#ifndef FAZOLT_MODEL_SYSTEMRECORD_H
#define FAZOLT_MODEL_SYSTEMRECORD_H

#include "model/dynArray.h"

struct SystemRecord {
    DynArray<uint8_t> *type;
    DynArray<uint8_t> *andMethod;
    DynArray<uint8_t> *orMethod;
    DynArray<uint8_t> *defuzzMethod;
    DynArray<uint8_t> *impMethod;
    DynArray<uint8_t> *aggMethod;
    DynArray<double> *inputRange;   // numInputs x 2
    DynArray<double> *outputRange;  // numOutputs x 2
    DynArray<VariableRecord> *inputMF;
    DynArray<VariableRecord> *outputMF;
    DynArray<double> *antecedent;  // numRules x numInputs
    DynArray<double> *consequent;  // numRules x numOutputs
    DynArray<double> *connection;  // numRules, one dimension
    DynArray<double> *weight;      // numRules, one dimension
    int32_t numSamples;
    int32_t numInputs;
    int32_t numOutputs;
    int32_t numRules;
    DynArray<int32_t> *numInputMFs;
    DynArray<int32_t> *numCumInputMFs;
    DynArray<int32_t> *numOutputMFs;
    DynArray<int32_t> *numCumOutputMFs;
    DynArray<double> *outputSamplePoints;  // numOutputs x numSamples
    int32_t orrSize[2];
    int32_t aggSize[2];
};

// What one row's diagnostics found, for a caller that takes them as flags
// instead of host warnings: the first input or output of each (1-based), 0
// for none.
struct DiagnosticsSeen {
    int32_t outOfRangeInput;
    int32_t noRuleFiredOutput;
    int32_t emptySetOutput;
};

struct DiagnosticsOptions {
    uint8_t DraxilDiagnostic;
    DynArray<uint8_t> *Model;
    DynArray<uint8_t> *Block;
    uint8_t OutOfRangeInputValue;
    uint8_t NoRuleFired;
    uint8_t EmptyOutputFuzzySet;
    // Not a host field. When set, every diagnostic is recorded here and none
    // calls the host, whatever the modes say.
    DiagnosticsSeen *seen;
};

// Diagnostic modes.
constexpr uint8_t kDiagnosticWarning = 2;
constexpr uint8_t kDiagnosticError = 3;

// Allocates every array field empty, in field order; with tls given, each is
// registered on its heap-reference stack right after its allocation.
void initSystemRecord(zorbTLS *tls, SystemRecord *fis);
// Releases every array field in field order and nulls it.
void releaseSystemRecord(SystemRecord *fis);

#endif
