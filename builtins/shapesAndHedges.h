// Host functions that give fuzzylite's shapes and hedges exactly, so that a
// file using them means what it says: each a membership function (the
// points, the parameters), registered under its name when a system is loaded.
#ifndef FAZOLT_BUILTINS_SHAPES_AND_HEDGES_H
#define FAZOLT_BUILTINS_SHAPES_AND_HEDGES_H

#include <string>
#include <vector>

namespace fazolt::builtins {

// Registers the shapes and hedges below under the names still free.
void registerShapesAndHedges();

// ---- Shapes (shapes.cpp), parameters in fuzzylite's order:
//   concavemf  inflection end
//   cosinemf   centre width
//   spikemf    centre width
//   binarymf   start direction
//   sigdiffmf  left rising falling right   (|s1 - s2|, not dsigmf's s1 - s2)

// Why `params` cannot serve the shape `type`, or "" (also for any other type).
std::string shapeParameterProblem(const std::string &type, const std::vector<double> &params);
// The degree of one of these shapes at x, with parameters that pass the check.
double shapeDegree(const std::string &type, double x, const std::vector<double> &params);

// ---- Hedges (hedges.cpp): a hedged term's degree is the hedge of another
// term's degree at the same point. Its type is the outermost hedge; its
// parameters are the codes of the inner hedges, outermost first, then the
// code of the base term's type, then the base term's parameters:
// "very very warm" with warm trimf 20 30 40 is very [code(very), code(trimf), 20, 30, 40].

// The words fuzzylite reads as hedges that reshape a degree ("not" and "any"
// are not among them: a rule here says those itself).
bool isHedgeWord(const std::string &word);
// The term `hedges` (outermost first; "not" only inside) make of a base term.
// Returns "" with type and params set, or why not.
std::string hedgedTerm(const std::vector<std::string> &hedges, const std::string &baseType,
                       const std::vector<double> &baseParams, std::string &type, std::vector<double> &params);
// The inverse: false for a type that is no hedge, or parameters that hold no
// hedged term.
bool splitHedgedTerm(const std::string &type, const std::vector<double> &params, std::vector<std::string> &hedges,
                     std::string &baseType, std::vector<double> &baseParams);

// One shape's or hedge's membership function at each point (shapes.cpp,
// hedges.cpp), for the registration.
void registerShapes();
void registerHedges();

}  // namespace fazolt::builtins

#endif
