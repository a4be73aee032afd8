// The exported entry for one row per call (host/rowEntry.h).
#include "host/rowEntry.h"

#include "codegen/fazolt.h"
#include "host/marshalling.h"
#include "host/runtime.h"

struct PreparedSystem {
    SystemRecord fis;
};

namespace {

void releasePreparedSystemAt(void *ownerAddress) {
    PreparedSystem **p = static_cast<PreparedSystem **>(ownerAddress);
    zorbFreeQib(nullptr, *p);
    *p = nullptr;
}

}  // namespace

extern "C" {

FAZOLT_EXPORT PreparedSystem *fazolt_prepareSystem(zorbTLS *tls, const zorbArray *record) {
    zorbHeapReferenceStackEnterFcn(tls);
    PreparedSystem *p = nullptr;
    // Registered before its fields, so released after them on an error.
    zorbPushHeapReferenceStack(tls, &p, &releasePreparedSystemAt);
    p = static_cast<PreparedSystem *>(zorbCallocQib(1, sizeof(PreparedSystem)));
    initSystemRecord(tls, &p->fis);
    importCheckedSystem(tls, record, &p->fis);
    zorbHeapReferenceStackLeaveFcn(tls);
    return p;
}

FAZOLT_EXPORT void fazolt_releasePreparedSystem(PreparedSystem *p) {
    if (p == nullptr) return;
    releaseSystemRecord(&p->fis);
    zorbFreeQib(nullptr, p);
}

FAZOLT_EXPORT RowEvaluator *fazolt_createRowEvaluator(zorbTLS *tls, const PreparedSystem *p) {
    return createRowEvaluator(tls, &p->fis);
}

FAZOLT_EXPORT void fazolt_releaseRowEvaluator(RowEvaluator *e) { releaseRowEvaluator(e); }

FAZOLT_EXPORT bool fazolt_rowCallsHost(const RowEvaluator *e) { return rowEvaluatorCallsHost(e); }

FAZOLT_EXPORT void fazolt_evaluateRow(zorbTLS *tls, RowEvaluator *e, const double *row, double *outputs,
                                      bool keepsIntermediates, DiagnosticsSeen *seen) {
    evaluateRow(tls, e, row, outputs, keepsIntermediates, seen);
}

FAZOLT_EXPORT const double *fazolt_rowIntermediate(const RowEvaluator *e, int32_t k, int32_t *rows, int32_t *cols) {
    const DynArray<double> *a = rowIntermediate(e, k);
    *rows = a->size[0];
    *cols = a->numDimensions > 1 ? a->size[1] : 1;
    return a->data;
}

}  // extern "C"
