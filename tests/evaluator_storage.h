// Caller-provided storage for an Evaluator's intermediate results, sized by
// its shapes, as a control loop would hold it.
#ifndef FAZOLT_TESTS_EVALUATOR_STORAGE_H
#define FAZOLT_TESTS_EVALUATOR_STORAGE_H

#include <fazolt/fazolt.h>

#include <vector>

struct EvaluatorStorage {
    std::vector<double> storage[5];
    fazolt::RowIntermediates intermediates;

    explicit EvaluatorStorage(const fazolt::Evaluator &evaluator) {
        const fazolt::IntermediateShapes shapes = evaluator.intermediateShapes();
        const std::pair<int64_t, int64_t> extents[5] = {shapes.ruleInputValues, shapes.ruleOutputs,
                                                        shapes.aggregatedOutputs, shapes.firingStrengths,
                                                        shapes.ruleOutputLevels};
        for (int k = 0; k < 5; ++k) storage[k].resize(static_cast<size_t>(extents[k].first * extents[k].second));
        intermediates = {storage[0], storage[1], storage[2], storage[3], storage[4]};
    }
    EvaluatorStorage(const EvaluatorStorage &) = delete;
};

#endif
