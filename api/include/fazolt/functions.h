/// @file
/// Custom functions written in C++ with typed signatures, one per role a
/// system gives a name: a membership function, an AND or OR method, an
/// implication, an aggregation or a defuzzification method. No host type is
/// needed to write or register one.
///
///     fazolt::Functions functions;
///     fazolt::Registration ramp = functions.membership("ramp", [](double x, std::span<const double> p) {
///         return std::clamp((x - p[0]) / (p[1] - p[0]), 0.0, 1.0);
///     });
///     // {"type": "ramp", "params": [10, 30]} now loads and evaluates;
///     // when `ramp` is destroyed, the name is gone again.
///
/// Register a function before loading a system that names it (names are
/// checked when a description is loaded) and keep its Registration alive
/// while such a system is evaluated. What a function returns is checked for
/// its role in the system being evaluated, as Lua and Python functions'
/// results are: degrees from 0 to 1, a finite crisp value
/// (ids::apiFunctionResult). An exception thrown by a function stops the
/// evaluation with ids::apiFunctionError (a fazolt::Error thrown by a
/// nested evaluation passes with its own identifier).
#ifndef FAZOLT_API_FUNCTIONS_H
#define FAZOLT_API_FUNCTIONS_H

#include <fazolt/export.h>

#include <functional>
#include <span>
#include <string>

namespace fazolt {

/// A membership function: the degree of point `x`, given the term's
/// parameters. Called for each point the module asks for, in order.
using MembershipFunction = std::function<double(double x, std::span<const double> params)>;
/// An AND, OR or aggregation method: reduces degrees to one degree. AND and
/// OR get a rule's degrees, one per input (1 for AND, 0 for OR where the
/// rule does not test the input); aggregation gets one output's implied
/// degrees at a sample point, one per rule.
using Reduction = std::function<double(std::span<const double> degrees)>;
/// An implication method: the implied degree of an output set's `degree`
/// at a sample point under the rule's firing `strength`.
using Implication = std::function<double(double degree, double strength)>;
/// A defuzzification method: one crisp value. On a Mamdani system `x` holds
/// the sample points and `degrees` the aggregated set at them; on a Sugeno
/// system `x` holds one number, the sum of the rules' strength times output
/// level, and `degrees` one, the sum of the strengths.
using Defuzzifier = std::function<double(std::span<const double> x, std::span<const double> degrees)>;

/// Owns one registered function: destroying it (or reset()) removes the
/// name. Move-only.
///
/// Thread safety: do not destroy it while a system that names the function
/// is being evaluated.
class FAZOLT_API Registration {
public:
    /// Owns nothing.
    Registration() = default;
    /// Takes over `other`'s function; `other` then owns nothing.
    Registration(Registration &&other) noexcept;
    /// Removes the function owned now, then takes over `other`'s.
    Registration &operator=(Registration &&other) noexcept;
    Registration(const Registration &) = delete;
    Registration &operator=(const Registration &) = delete;
    /// Removes the function.
    ~Registration();

    /// The name it owns; empty when it owns none.
    const std::string &name() const { return name_; }
    /// Whether it owns a function.
    explicit operator bool() const { return !name_.empty(); }
    /// Removes the function now.
    void reset() noexcept;

private:
    friend class Functions;
    explicit Registration(std::string name) : name_(std::move(name)) {}
    std::string name_;
};

/// Registers typed custom functions under names that systems use as a
/// method or a membership function type. The names are those of the
/// process's host functions: a name that is already one (the host's own,
/// such as "sum" or "transpose", or one registered before by any means) is
/// refused with ids::apiNameTaken. Each function stays until its
/// Registration is destroyed.
///
/// Thread safety: registering may be done from any thread, but not while a
/// system naming the same function is evaluated. The functions themselves
/// are called from every thread that evaluates such a system, at once.
///
/// Complexity: a membership function is called once per point, a reduction
/// once per rule or sample point, an implication once per sample point.
class FAZOLT_API Functions {
public:
    /// A membership function named `name` ("type" of a term).
    /// @throws Error ids::apiNameTaken, ids::apiFunctionArguments for an empty name
    [[nodiscard]] Registration membership(const std::string &name, MembershipFunction function) const;
    /// An AND or OR method named `name` ("andMethod", "orMethod").
    /// @throws Error as membership()
    [[nodiscard]] Registration connective(const std::string &name, Reduction function) const;
    /// An aggregation method named `name` ("aggMethod").
    /// @throws Error as membership()
    [[nodiscard]] Registration aggregation(const std::string &name, Reduction function) const;
    /// An implication method named `name` ("impMethod").
    /// @throws Error as membership()
    [[nodiscard]] Registration implication(const std::string &name, Implication function) const;
    /// A defuzzification method named `name` ("defuzzMethod").
    /// @throws Error as membership()
    [[nodiscard]] Registration defuzzifier(const std::string &name, Defuzzifier function) const;
};

}  // namespace fazolt

#endif
