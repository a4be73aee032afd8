#include "model/systemRecord.h"

template <typename T>
static void initField(zorbTLS *tls, DynArray<T> **field, int32_t numDimensions) {
    if (tls != nullptr) {
        initRegisteredArray(tls, field, numDimensions);
    } else {
        *field = nullptr;
        initArray(field, numDimensions);
    }
}

void initSystemRecord(zorbTLS *tls, SystemRecord *fis) {
    // Null everything first so that an allocation failure part-way leaves a
    // record that releaseSystemRecord accepts.
    fis->type = fis->andMethod = fis->orMethod = fis->defuzzMethod = fis->impMethod = fis->aggMethod = nullptr;
    fis->inputRange = fis->outputRange = nullptr;
    fis->inputMF = fis->outputMF = nullptr;
    fis->antecedent = fis->consequent = fis->connection = fis->weight = nullptr;
    fis->numInputMFs = fis->numCumInputMFs = fis->numOutputMFs = fis->numCumOutputMFs = nullptr;
    fis->outputSamplePoints = nullptr;
    fis->numSamples = fis->numInputs = fis->numOutputs = fis->numRules = 0;
    fis->orrSize[0] = fis->orrSize[1] = 0;
    fis->aggSize[0] = fis->aggSize[1] = 0;

    initField(tls, &fis->type, 2);
    initField(tls, &fis->andMethod, 2);
    initField(tls, &fis->orMethod, 2);
    initField(tls, &fis->defuzzMethod, 2);
    initField(tls, &fis->impMethod, 2);
    initField(tls, &fis->aggMethod, 2);
    initField(tls, &fis->inputRange, 2);
    initField(tls, &fis->outputRange, 2);
    initField(tls, &fis->inputMF, 2);
    initField(tls, &fis->outputMF, 2);
    initField(tls, &fis->antecedent, 2);
    initField(tls, &fis->consequent, 2);
    initField(tls, &fis->connection, 1);
    initField(tls, &fis->weight, 1);
    initField(tls, &fis->numInputMFs, 2);
    initField(tls, &fis->numCumInputMFs, 2);
    initField(tls, &fis->numOutputMFs, 2);
    initField(tls, &fis->numCumOutputMFs, 2);
    initField(tls, &fis->outputSamplePoints, 2);
}

void releaseSystemRecord(SystemRecord *fis) {
    releaseArray(&fis->type);
    releaseArray(&fis->andMethod);
    releaseArray(&fis->orMethod);
    releaseArray(&fis->defuzzMethod);
    releaseArray(&fis->impMethod);
    releaseArray(&fis->aggMethod);
    releaseArray(&fis->inputRange);
    releaseArray(&fis->outputRange);
    releaseArray(&fis->inputMF);
    releaseArray(&fis->outputMF);
    releaseArray(&fis->antecedent);
    releaseArray(&fis->consequent);
    releaseArray(&fis->connection);
    releaseArray(&fis->weight);
    releaseArray(&fis->numInputMFs);
    releaseArray(&fis->numCumInputMFs);
    releaseArray(&fis->numOutputMFs);
    releaseArray(&fis->numCumOutputMFs);
    releaseArray(&fis->outputSamplePoints);
}
