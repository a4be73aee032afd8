// The lane kernel for AVX2: eight rows a block, as two registers of four.
// Built with -mavx2 for this object alone (never FMA); called only when the
// processor has AVX2.
#define FAZOLT_LANE_PAIRS 1
#include "codegen/lanes/rowLanesKernel.h"

int32_t runRowsAvx2(const LaneSystem *lanes, int32_t first, int32_t end, double *crisp) {
    return runBlocks(lanes, first, end, crisp);
}
