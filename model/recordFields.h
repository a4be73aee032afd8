// The field names of the system record and of the diagnostics options, in
// their stored order. The marshalling, the diagnostics and the description
// builder all read them here. Header-only data, so that the embedding API
// can read it without linking the module.
#ifndef FAZOLT_MODEL_RECORDFIELDS_H
#define FAZOLT_MODEL_RECORDFIELDS_H

#include <cstdint>

// The system record's fields, in their stored order: the one list that the
// struct (model/systemRecord.h), its initialisation and release, and the
// names below come from. ARRAY(element type, name, dimensions) is a host
// array, INT32(name) a whole number, INT32_PAIR(name) two of them.
#define FAZOLT_SYSTEM_RECORD_FIELDS(ARRAY, INT32, INT32_PAIR) \
    ARRAY(uint8_t, type, 2)                                     \
    ARRAY(uint8_t, andMethod, 2)                                \
    ARRAY(uint8_t, orMethod, 2)                                 \
    ARRAY(uint8_t, defuzzMethod, 2)                             \
    ARRAY(uint8_t, impMethod, 2)                                \
    ARRAY(uint8_t, aggMethod, 2)                                \
    ARRAY(double, inputRange, 2)         /* numInputs x 2 */     \
    ARRAY(double, outputRange, 2)        /* numOutputs x 2 */    \
    ARRAY(VariableRecord, inputMF, 2)                           \
    ARRAY(VariableRecord, outputMF, 2)                          \
    ARRAY(double, antecedent, 2)         /* numRules x numInputs */  \
    ARRAY(double, consequent, 2)         /* numRules x numOutputs */ \
    ARRAY(double, connection, 1)         /* numRules */          \
    ARRAY(double, weight, 1)             /* numRules */          \
    INT32(numSamples)                                           \
    INT32(numInputs)                                            \
    INT32(numOutputs)                                           \
    INT32(numRules)                                             \
    ARRAY(int32_t, numInputMFs, 2)                              \
    ARRAY(int32_t, numCumInputMFs, 2)                           \
    ARRAY(int32_t, numOutputMFs, 2)                             \
    ARRAY(int32_t, numCumOutputMFs, 2)                          \
    ARRAY(double, outputSamplePoints, 2) /* numOutputs x numSamples */ \
    INT32_PAIR(orrSize)                                         \
    INT32_PAIR(aggSize)

#define FAZOLT_RECORD_ARRAY_NAME(type, name, dims) #name,
#define FAZOLT_RECORD_NAME(name) #name,
inline constexpr const char *kSystemRecordFields[] = {
    FAZOLT_SYSTEM_RECORD_FIELDS(FAZOLT_RECORD_ARRAY_NAME, FAZOLT_RECORD_NAME, FAZOLT_RECORD_NAME)};
#undef FAZOLT_RECORD_ARRAY_NAME
#undef FAZOLT_RECORD_NAME
inline constexpr int32_t kNumSystemRecordFields = sizeof(kSystemRecordFields) / sizeof(kSystemRecordFields[0]);
static_assert(kNumSystemRecordFields == 25, "the host's system struct has 25 fields");

inline constexpr const char *kVariableRecordFields[2] = {"mf", "origNumMF"};
inline constexpr const char *kMFRecordFields[4] = {"type", "origTypeLength", "params", "origParamLength"};

inline constexpr int32_t kNumDiagnosticsFields = 6;
inline constexpr const char *kDiagnosticsFields[kNumDiagnosticsFields] = {
    "DraxilDiagnostic", "Model", "Block", "OutOfRangeInputValue", "NoRuleFired", "EmptyOutputFuzzySet"};

#endif
