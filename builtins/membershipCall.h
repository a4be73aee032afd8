// What a membership host function of builtins/ reads and gives: the points
// and the parameters, then one degree per point in the points' extents.
#ifndef FAZOLT_BUILTINS_MEMBERSHIP_CALL_H
#define FAZOLT_BUILTINS_MEMBERSHIP_CALL_H

#include <fazolt/error_ids.h>
#include <orvane/host.h>

#include <string>
#include <vector>

namespace fazolt::builtins {

struct MembershipCall {
    std::vector<double> xs;
    std::vector<double> params;
};

inline std::vector<double> realDoubles(const orvane::Value &v, const std::string &function) {
    if (!v || v.className() != "double" || v.isComplex())
        orvane::raise(ids::formatsArgument, function + ": expected real doubles");
    return v.toDoubles();
}

inline MembershipCall membershipArguments(const std::vector<orvane::Value> &args, const std::string &function) {
    if (args.size() != 2) orvane::raise(ids::formatsArgument, function + ": expected the points and the parameters");
    return {realDoubles(args[0], function), realDoubles(args[1], function)};
}

inline void membershipResult(std::vector<orvane::Value> &results, const orvane::Value &points,
                             const std::vector<double> &ys) {
    if (ys.size() == 1) {
        results.assign(1, orvane::Value::doubleScalar(ys[0]));
    } else {
        const std::vector<int64_t> &dims = points.dims();
        bool isColumn = dims.size() == 2 && dims[1] == 1 && dims[0] > 1;
        int64_t n = static_cast<int64_t>(ys.size());
        results.assign(1, isColumn ? orvane::Value::doubleMatrix(n, 1, ys) : orvane::Value::doubleMatrix(1, n, ys));
    }
}

}  // namespace fazolt::builtins

#endif
