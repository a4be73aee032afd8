// Right division of a scalar by a column: R * v = b for the 1 x K row R.
// One element is an LU solve; more elements are a least-squares solve by a
// column-pivoted QR factorisation of the 1 x K row v' with a rank test.
#include "numeric/rightDivideByColumn.h"

#include "host/runtime.h"

#include <lapacke.h>

#include <cstdint>

static_assert(sizeof(lapack_int) == sizeof(int64_t), "LAPACKE must use its 64-bit-integer interface");

namespace {

constexpr double machineEpsilon = 2.220446049250313e-16;  // 2^-52

// A zero pivot is left to the division: 1 / 0 gives an infinity of the
// zero's sign.
void divideByScalar(double b, double v, DynArray<double> *R) {
    double work = v;
    lapack_int pivot = 0;
    lapack_int status = LAPACKE_dgetrf_work(LAPACK_COL_MAJOR, 1, 1, &work, 1, &pivot);
    if (status < 0) work = quvGetNaN();
    resize2D(R, 1, 1);
    R->data[0] = b / work;
}

void divideByColumn(zorbTLS *tls, double b, const DynArray<double> *v, int32_t numel, DynArray<double> *R) {
    zorbHeapReferenceStackEnterFcn(tls);
    DynArray<double> *A = nullptr;
    DynArray<lapack_int> *jpvt = nullptr;
    DynArray<double> *solution = nullptr;
    initRegisteredArray(tls, &A, 2);
    initRegisteredArray(tls, &jpvt, 1);
    initRegisteredArray(tls, &solution, 1);

    resize2D(A, 1, numel);
    for (int32_t i = 0; i < numel; ++i) A->data[i] = v->data[i];
    resize1D(jpvt, numel);
    for (int32_t i = 0; i < numel; ++i) jpvt->data[i] = 0;  // every column free to move
    double tau = 0.0;
    lapack_int status = LAPACKE_dgeqp3(LAPACK_COL_MAJOR, 1, numel, A->data, 1, jpvt->data, &tau);
    if (status != 0) {
        for (int32_t i = 0; i < numel; ++i) {
            A->data[i] = quvGetNaN();
            jpvt->data[i] = i + 1;
        }
        tau = quvGetNaN();
    }

    // A NaN diagonal counts as rank 1 so that the NaN reaches the result.
    const double diagonal = quvAbs(A->data[0]);
    const double tolerance = (diagonal * static_cast<double>(numel)) * machineEpsilon;
    const bool isRankOne = tolerance < diagonal || quvIsNaN(tolerance) || quvIsNaN(diagonal);

    resize1D(solution, numel);
    for (int32_t i = 0; i < numel; ++i) solution->data[i] = 0.0;
    double g = b;
    status = LAPACKE_dormqr(LAPACK_COL_MAJOR, 'L', 'T', 1, 1, 1, A->data, 1, &tau, &g, 1);
    if (status != 0) g = quvGetNaN();
    if (isRankOne) {
        const int64_t p = jpvt->data[0] - 1;  // LAPACK's 1-based column number
        solution->data[p] = g;
        solution->data[p] = solution->data[p] / A->data[0];
    }

    resize2D(R, 1, numel);
    for (int32_t i = 0; i < numel; ++i) R->data[i] = solution->data[i];

    releaseArray(&solution);
    releaseArray(&jpvt);
    releaseArray(&A);
    zorbHeapReferenceStackLeaveFcn(tls);
}

}  // namespace

void rightDivideByColumn(zorbTLS *tls, double b, const DynArray<double> *v, DynArray<double> *R) {
    const int32_t count = numel(v);
    if (count == 0) {
        resize2D(R, 1, 0);
    } else if (count == 1) {
        divideByScalar(b, v->data[0], R);
    } else {
        divideByColumn(tls, b, v, count, R);
    }
}
