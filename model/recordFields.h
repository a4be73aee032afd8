// The field names of the system record and of the diagnostics options, in
// their stored order. The marshalling, the diagnostics and the description
// builder all read them here. Header-only data, so that the embedding API
// can read it without linking the module.
#ifndef FAZOLT_MODEL_RECORDFIELDS_H
#define FAZOLT_MODEL_RECORDFIELDS_H

#include <cstdint>

inline constexpr int32_t kNumSystemRecordFields = 25;
inline constexpr const char *kSystemRecordFields[kNumSystemRecordFields] = {
    "type",         "andMethod",       "orMethod",           "defuzzMethod", "impMethod",
    "aggMethod",    "inputRange",      "outputRange",        "inputMF",      "outputMF",
    "antecedent",   "consequent",      "connection",         "weight",       "numSamples",
    "numInputs",    "numOutputs",      "numRules",           "numInputMFs",  "numCumInputMFs",
    "numOutputMFs", "numCumOutputMFs", "outputSamplePoints", "orrSize",      "aggSize"};

inline constexpr const char *kVariableRecordFields[2] = {"mf", "origNumMF"};
inline constexpr const char *kMFRecordFields[4] = {"type", "origTypeLength", "params", "origParamLength"};

inline constexpr int32_t kNumDiagnosticsFields = 6;
inline constexpr const char *kDiagnosticsFields[kNumDiagnosticsFields] = {
    "DraxilDiagnostic", "Model", "Block", "OutOfRangeInputValue", "NoRuleFired", "EmptyOutputFuzzySet"};

#endif
