/// @file
/// The one error type of the embedding API.
#ifndef FAZOLT_API_ERROR_H
#define FAZOLT_API_ERROR_H

#include <fazolt/export.h>
#include <fazolt/error_ids.h>
#include <orvane/host.h>

#include <cstdint>
#include <optional>
#include <string>

namespace fazolt {

/// Where the fault is, as far as the error knows it. Each part is set only
/// when the message names it.
struct Where {
    std::optional<std::string> path;  ///< JSON path in a nested description, e.g. "inputs[1].mf[0].params"
    std::optional<std::string> file;  ///< a file (FCL, FLL, Lua script) ...
    std::optional<int64_t> line;      ///< ... and its line, from 1
    std::optional<int64_t> row;       ///< a row of a batch, from 0
};

/// What every function of the embedding API throws: an identifier from
/// fazolt/error_ids.h (or the module's or the host's, passed on unchanged),
/// the message, and where the fault is when that is known.
///
/// It derives from std::runtime_error through orvane::HostError, so that
/// code catching the host's error keeps working and a fazolt::Error thrown
/// inside a custom function (a nested evaluation) reaches the host's call
/// boundary like any host error. what() is "identifier: message".
///
/// Thread safety: an Error is an immutable value.
class FAZOLT_API Error : public orvane::HostError {
public:
    /// An error with identifier `id` and `message`, with `where` and
    /// moduleLocation() as given.
    Error(std::string id, std::string message, Where where = {}, std::string moduleLocation = {});
    /// The host error `error` as an Error: its identifier and message, and
    /// the place that the message starts with ("row 3: ...", "inputs[1].mf:
    /// ..." for a description, "file.fcl:12: ..." for a file). The places in
    /// the module that the host adds to the message where an error leaves
    /// a custom function (" (in evaluateAndMethod, line 29, column 16)", one
    /// per nested call) go to moduleLocation() instead: an application's
    /// own Error thrown there keeps its identifier and message.
    explicit Error(const orvane::HostError &error);

    /// The identifier, e.g. fazolt::ids::descriptionInvalid.
    const std::string &id() const noexcept { return identifier(); }
    /// Where the fault is; parts that are not known are empty.
    const Where &where() const noexcept { return where_; }
    /// For debugging: where in the module's source the error left a host
    /// call, e.g. "in evaluateAndMethod, line 29, column 16" (innermost
    /// first, "; " apart); empty when it did not pass one.
    const std::string &moduleLocation() const noexcept { return moduleLocation_; }
    /// "identifier: message".
    const char *what() const noexcept override;

private:
    Where where_;
    std::string moduleLocation_;
    std::string what_;
};

}  // namespace fazolt

#endif
