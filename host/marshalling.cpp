// Argument import and result export around one evaluation.
//
// Sections: message identifiers, field imports, import of "inputs", "fis"
// and "diagnostics", result export, marshalAndEvaluate.
#include "host/marshalling.h"

#include "codegen/fazolt.h"
#include "host/validateSystem.h"
#include "model/recordFields.h"

#include <cstdio>

namespace {

// ---- Message identifiers: every check names its value's path from the argument.

const zorbMsgIdentifier inputsId = {"inputs", nullptr, false};
const zorbMsgIdentifier fisId = {"fis", nullptr, false};
const zorbMsgIdentifier diagnosticsId = {"diagnostics", nullptr, false};

const char *const *const fisFieldNames = kSystemRecordFields;
const char *const *const variableFieldNames = kVariableRecordFields;
const char *const *const mfFieldNames = kMFRecordFields;
const char *const *const diagnosticsFieldNames = kDiagnosticsFields;

const int32_t kRowDims[2] = {1, -1};
const int32_t kMatrixDims[2] = {-1, -1};
const int32_t kTwoColumnDims[2] = {-1, 2};
const int32_t kVectorDims[1] = {-1};
const int32_t kPairDims[2] = {1, 2};

// ---- Field imports. Each checks the value, sizes the target to the checked
// extents and copies; none keeps a reference.

// Element counts are 32-bit throughout the evaluation: a value whose extents
// multiply beyond that is refused before anything is allocated for it.
void checkElementCount(zorbTLS *tls, const zorbMsgIdentifier *id, int32_t numDimensions, const int32_t *extents) {
    int64_t count = 1;
    for (int32_t k = 0; k < numDimensions; ++k) count *= extents[k];
    if (count <= 2147483647) return;
    const zorbMsgIdentifier *chain[8];
    int32_t depth = 0;
    for (const zorbMsgIdentifier *p = id; p != nullptr && depth < 8; p = p->parent) chain[depth++] = p;
    char path[256];
    int32_t used = 0;
    for (int32_t k = depth - 1; k >= 0 && used < static_cast<int32_t>(sizeof path) - 1; --k) {
        int n = std::snprintf(path + used, sizeof path - static_cast<size_t>(used), k == depth - 1 ? "%s" : ".%s",
                              chain[k]->identifier);
        if (n < 0) break;
        used += n;
    }
    if (used > static_cast<int32_t>(sizeof path) - 1) used = static_cast<int32_t>(sizeof path) - 1;
    rejectSystem(tls, "%.*s has %lld elements, more than 2^31-1", used, path, static_cast<long long>(count));
}

template <typename T>
void importArray(zorbTLS *tls, const zorbMsgIdentifier *id, const zorbArray *value, const char *className,
                 int32_t numDimensions, const int32_t *dims, DynArray<T> *target) {
    int32_t extents[2] = {0, 0};
    zorbCheckVsBuiltIn(tls, id, value, className, false, numDimensions, dims, extents);
    checkElementCount(tls, id, numDimensions, extents);
    int32_t oldNumel = numel(target);
    for (int32_t k = 0; k < numDimensions; ++k) target->size[k] = extents[k];
    ensureCapacity(target, oldNumel);
    zorbImportArray(tls, value, target->data, static_cast<int32_t>(sizeof(T)), false);
}

int32_t importInt32Scalar(zorbTLS *tls, const zorbMsgIdentifier *id, const zorbArray *value) {
    zorbCheckBuiltIn(tls, id, value, "int32", false, 0, nullptr);
    return *static_cast<const int32_t *>(zorbQuvGetData(value));
}

uint8_t importUint8Scalar(zorbTLS *tls, const zorbMsgIdentifier *id, const zorbArray *value) {
    zorbCheckBuiltIn(tls, id, value, "uint8", false, 0, nullptr);
    return *static_cast<const uint8_t *>(zorbQuvGetData(value));
}

void importPair(zorbTLS *tls, const zorbMsgIdentifier *id, const zorbArray *value, int32_t *pair) {
    zorbCheckBuiltIn(tls, id, value, "int32", false, 2, kPairDims);
    const int32_t *data = static_cast<const int32_t *>(zorbQuvGetData(value));
    pair[0] = data[0];
    pair[1] = data[1];
}

// ---- Membership functions and variables.

void importMFRecords(zorbTLS *tls, const zorbMsgIdentifier *mfId, const zorbArray *value, DynArray<MFRecord> *target) {
    zorbMsgIdentifier typeId = {mfFieldNames[0], mfId, false};
    zorbMsgIdentifier typeLengthId = {mfFieldNames[1], mfId, false};
    zorbMsgIdentifier paramsId = {mfFieldNames[2], mfId, false};
    zorbMsgIdentifier paramLengthId = {mfFieldNames[3], mfId, false};

    int32_t extents[2] = {0, 0};
    zorbCheckVsStruct(tls, mfId, value, 4, mfFieldNames, 2, kRowDims, extents);
    checkElementCount(tls, mfId, 2, extents);
    resize2D(target, extents[0], extents[1]);
    for (int32_t j = 0; j < extents[1]; ++j) {
        MFRecord *mf = &target->data[j];
        zorbArray *field = zorbGetField(tls, value, j, 0, mfFieldNames[0]);
        importArray(tls, &typeId, field, "uint8", 2, kRowDims, mf->type);
        zorbDestroyArray(&field);
        field = zorbGetField(tls, value, j, 1, mfFieldNames[1]);
        mf->origTypeLength = importInt32Scalar(tls, &typeLengthId, field);
        zorbDestroyArray(&field);
        field = zorbGetField(tls, value, j, 2, mfFieldNames[2]);
        importArray(tls, &paramsId, field, "double", 2, kRowDims, mf->params);
        zorbDestroyArray(&field);
        field = zorbGetField(tls, value, j, 3, mfFieldNames[3]);
        mf->origParamLength = importInt32Scalar(tls, &paramLengthId, field);
        zorbDestroyArray(&field);
    }
}

void importVariables(zorbTLS *tls, const zorbMsgIdentifier *variableId, const zorbArray *value,
                     DynArray<VariableRecord> *target) {
    zorbMsgIdentifier mfId = {variableFieldNames[0], variableId, false};
    zorbMsgIdentifier numMFId = {variableFieldNames[1], variableId, false};

    int32_t extents[2] = {0, 0};
    zorbCheckVsStruct(tls, variableId, value, 2, variableFieldNames, 2, kRowDims, extents);
    checkElementCount(tls, variableId, 2, extents);
    resize2D(target, extents[0], extents[1]);
    for (int32_t i = 0; i < extents[1]; ++i) {
        zorbArray *field = zorbGetField(tls, value, i, 0, variableFieldNames[0]);
        importMFRecords(tls, &mfId, field, target->data[i].mf);
        zorbDestroyArray(&field);
        field = zorbGetField(tls, value, i, 1, variableFieldNames[1]);
        target->data[i].origNumMF = importInt32Scalar(tls, &numMFId, field);
        zorbDestroyArray(&field);
    }
}

// ---- The three arguments.

void importInputs(zorbTLS *tls, const zorbArray *value, DynArray<double> *inputs) {
    int32_t extents[2] = {0, 0};
    zorbCheckVsBuiltIn(tls, &inputsId, value, "double", false, 2, kMatrixDims, extents);
    checkElementCount(tls, &inputsId, 2, extents);
    inputs->size[0] = extents[0];
    inputs->size[1] = extents[1];
    inputs->allocatedSize = extents[0] * extents[1];
    inputs->data = static_cast<double *>(zorbQuvGetData(value));
    inputs->canFreeData = false;
}

// One field of "fis": fetch by number, import, drop the reference.
template <typename Import>
void withFisField(zorbTLS *tls, const zorbArray *fisValue, int32_t fieldNumber, Import import) {
    zorbMsgIdentifier id = {fisFieldNames[fieldNumber], &fisId, false};
    zorbArray *field = zorbGetField(tls, fisValue, 0, fieldNumber, fisFieldNames[fieldNumber]);
    import(&id, field);
    zorbDestroyArray(&field);
}

void importSystemRecord(zorbTLS *tls, const zorbArray *value, SystemRecord *fis) {
    zorbCheckStruct(tls, &fisId, value, kNumSystemRecordFields, fisFieldNames, 0, nullptr);

    DynArray<uint8_t> *names[6] = {fis->type,         fis->andMethod, fis->orMethod,
                                   fis->defuzzMethod, fis->impMethod, fis->aggMethod};
    for (int32_t k = 0; k < 6; ++k) {
        withFisField(tls, value, k, [&](const zorbMsgIdentifier *id, const zorbArray *f) {
            importArray(tls, id, f, "uint8", 2, kRowDims, names[k]);
        });
    }
    withFisField(tls, value, 6, [&](const zorbMsgIdentifier *id, const zorbArray *f) {
        importArray(tls, id, f, "double", 2, kTwoColumnDims, fis->inputRange);
    });
    withFisField(tls, value, 7, [&](const zorbMsgIdentifier *id, const zorbArray *f) {
        importArray(tls, id, f, "double", 2, kTwoColumnDims, fis->outputRange);
    });
    withFisField(tls, value, 8,
                 [&](const zorbMsgIdentifier *id, const zorbArray *f) { importVariables(tls, id, f, fis->inputMF); });
    withFisField(tls, value, 9,
                 [&](const zorbMsgIdentifier *id, const zorbArray *f) { importVariables(tls, id, f, fis->outputMF); });
    withFisField(tls, value, 10, [&](const zorbMsgIdentifier *id, const zorbArray *f) {
        importArray(tls, id, f, "double", 2, kMatrixDims, fis->antecedent);
    });
    withFisField(tls, value, 11, [&](const zorbMsgIdentifier *id, const zorbArray *f) {
        importArray(tls, id, f, "double", 2, kMatrixDims, fis->consequent);
    });
    withFisField(tls, value, 12, [&](const zorbMsgIdentifier *id, const zorbArray *f) {
        importArray(tls, id, f, "double", 1, kVectorDims, fis->connection);
    });
    withFisField(tls, value, 13, [&](const zorbMsgIdentifier *id, const zorbArray *f) {
        importArray(tls, id, f, "double", 1, kVectorDims, fis->weight);
    });
    int32_t *counts[4] = {&fis->numSamples, &fis->numInputs, &fis->numOutputs, &fis->numRules};
    for (int32_t k = 0; k < 4; ++k) {
        withFisField(tls, value, 14 + k, [&](const zorbMsgIdentifier *id, const zorbArray *f) {
            *counts[k] = importInt32Scalar(tls, id, f);
        });
    }
    DynArray<int32_t> *countRows[4] = {fis->numInputMFs, fis->numCumInputMFs, fis->numOutputMFs, fis->numCumOutputMFs};
    for (int32_t k = 0; k < 4; ++k) {
        withFisField(tls, value, 18 + k, [&](const zorbMsgIdentifier *id, const zorbArray *f) {
            importArray(tls, id, f, "int32", 2, kRowDims, countRows[k]);
        });
    }
    withFisField(tls, value, 22, [&](const zorbMsgIdentifier *id, const zorbArray *f) {
        importArray(tls, id, f, "double", 2, kMatrixDims, fis->outputSamplePoints);
    });
    withFisField(tls, value, 23,
                 [&](const zorbMsgIdentifier *id, const zorbArray *f) { importPair(tls, id, f, fis->orrSize); });
    withFisField(tls, value, 24,
                 [&](const zorbMsgIdentifier *id, const zorbArray *f) { importPair(tls, id, f, fis->aggSize); });
}

void importDiagnostics(zorbTLS *tls, const zorbArray *value, DiagnosticsOptions *diag) {
    zorbCheckStruct(tls, &diagnosticsId, value, kNumDiagnosticsFields, diagnosticsFieldNames, 0, nullptr);
    uint8_t *modes[6] = {&diag->DraxilDiagnostic,   nullptr, nullptr, &diag->OutOfRangeInputValue, &diag->NoRuleFired,
                         &diag->EmptyOutputFuzzySet};
    DynArray<uint8_t> *names[6] = {nullptr, diag->Model, diag->Block, nullptr, nullptr, nullptr};
    for (int32_t k = 0; k < 6; ++k) {
        zorbMsgIdentifier id = {diagnosticsFieldNames[k], &diagnosticsId, false};
        zorbArray *field = zorbGetField(tls, value, 0, k, diagnosticsFieldNames[k]);
        if (modes[k] != nullptr) {
            *modes[k] = importUint8Scalar(tls, &id, field);
        } else {
            importArray(tls, &id, field, "uint8", 2, kRowDims, names[k]);
        }
        zorbDestroyArray(&field);
    }
}

// ---- Export: the host array takes the result's block; nothing is copied.

zorbArray *exportResult(DynArray<double> *result) {
    const int32_t emptyDims[2] = {0, 0};
    zorbArray *value = zorbCreateNumericArray(result->numDimensions, emptyDims, ZORB_DOUBLE_CLASS, ZORB_REAL);
    zorbQuvSetData(value, result->data);
    zorbSetDimensions(value, result->size, result->numDimensions);
    result->canFreeData = false;
    return value;
}

}  // namespace

void importCheckedSystem(zorbTLS *tls, const zorbArray *record, SystemRecord *fis) {
    importSystemRecord(tls, record, fis);
    // As the entry checks it for rows of numInputs values: the row's values
    // themselves are not looked at.
    int32_t extents[2] = {1, fis->numInputs};
    const DynArray<double> rows = {nullptr, extents, 0, 2, false};
    validateSystem(tls, &rows, fis);
}

void marshalAndEvaluate(zorbTLS *tls, const zorbArray *const *arguments, int32_t numResults, zorbArray **resultSlots) {
    zorbHeapReferenceStackEnterFcn(tls);

    DynArray<double> *inputs;
    SystemRecord fis;
    DiagnosticsOptions diag = {0, nullptr, nullptr, 0, 0, 0, nullptr};
    DynArray<double> *results[6];
    initRegisteredArray(tls, &inputs, 2);
    initSystemRecord(tls, &fis);
    initRegisteredArray(tls, &diag.Model, 2);
    initRegisteredArray(tls, &diag.Block, 2);
    for (int32_t k = 0; k < 6; ++k) initRegisteredArray(tls, &results[k], k == 4 ? 1 : 2);

    importInputs(tls, arguments[0], inputs);
    importSystemRecord(tls, arguments[1], &fis);
    importDiagnostics(tls, arguments[2], &diag);
    validateSystem(tls, inputs, &fis);

    FazoltResults evaluation = {results[0], results[1], results[2], results[3], results[4], results[5]};
    evaluateFis(tls, inputs, &fis, &diag, &evaluation);

    zorbAssign(&resultSlots[0], exportResult(results[0]));
    releaseArray(&results[0]);

    releaseArray(&diag.Model);
    releaseArray(&diag.Block);
    releaseSystemRecord(&fis);
    inputs->canFreeData = false;
    releaseArray(&inputs);

    // Results that are not exported still own their blocks and free them
    // here, so nothing outlives the call.
    for (int32_t k = 1; k < 6; ++k) {
        if (numResults > k) zorbAssign(&resultSlots[k], exportResult(results[k]));
        releaseArray(&results[k]);
    }

    zorbHeapReferenceStackLeaveFcn(tls);
}
