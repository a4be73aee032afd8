/// @file
/// The identifiers of the errors and warnings that the embedding API, the
/// `fazolt` tool and the Python package report, in one list. A fazolt::Error
/// carries one of these as its id() (or one of the module's or the host's,
/// see below); the tool prints it after "error:" and Python's
/// `FazoltError.id` holds it. The table of docs/errors.md is checked against
/// fazolt::ids::all.
///
/// Identifiers of two other kinds pass through unchanged:
/// - the module's own ("fazolt:invalidSystem", "fazolt:CustomResultLength",
///   "fazolt:membership:TooFewParameters" and the diagnostics listed at the
///   end), which System::call reports as the module raised them;
/// - the host's ("Orvane:...", "ZORB:runTime:..."), for a module that cannot
///   be loaded, a value of the wrong form in a raw record or call, or memory
///   running out.
#ifndef FAZOLT_API_ERROR_IDS_H
#define FAZOLT_API_ERROR_IDS_H

namespace fazolt {
/// Error and warning identifiers, one constant each, spelled as reported.
namespace ids {

// Arrays rather than std::string_view so that they compare with and append
// to std::string as a literal does.

/// Evaluations nested too deep: a custom function evaluates a system again and again.
inline constexpr char apiNestedTooDeep[] = "fazolt:api:NestedTooDeep";
/// A DiagnosticModes or RowChecks field holding no fazolt::Report value; the message names it.
inline constexpr char apiDiagnosticMode[] = "fazolt:api:DiagnosticMode";
/// Matrix::fromRows was given rows of different lengths.
inline constexpr char apiRaggedRows[] = "fazolt:api:RaggedRows";
/// A caller's buffer or matrix has the wrong size; the message names the parameter.
inline constexpr char apiSize[] = "fazolt:api:Size";
/// An element outside a Matrix.
inline constexpr char apiOutOfRange[] = "fazolt:api:OutOfRange";
/// Inputs by name that are not the system's inputs, each once.
inline constexpr char apiInputNames[] = "fazolt:api:InputNames";
/// A typed custom function's name is already a host function (the host's own or registered before).
inline constexpr char apiNameTaken[] = "fazolt:api:NameTaken";
/// A typed custom function threw; the message holds what it threw.
inline constexpr char apiFunctionError[] = "fazolt:api:FunctionError";
/// A typed custom function's arguments are not what its role receives (a raw record naming it elsewhere).
inline constexpr char apiFunctionArguments[] = "fazolt:api:FunctionArguments";
/// A typed custom function returned a value its role cannot use (a degree outside 0..1, ...).
inline constexpr char apiFunctionResult[] = "fazolt:api:FunctionResult";

/// A nested description breaks a rule; the message starts with the JSON path.
inline constexpr char descriptionInvalid[] = "fazolt:description:Invalid";
/// A nested description is not JSON.
inline constexpr char descriptionMalformed[] = "fazolt:description:Malformed";
/// A sample count asked of a raw record, whose sample points are part of it.
inline constexpr char samplesRawRecord[] = "fazolt:samples:RawRecord";
/// A sample count asked of text that is not a JSON object.
inline constexpr char samplesInvalid[] = "fazolt:samples:Invalid";

/// An input is NaN (warning or error, as DiagnosticModes::nanInput says).
inline constexpr char inputsNaN[] = "fazolt:inputs:NaN";
/// An output is NaN or infinite from finite inputs (DiagnosticModes::nonFiniteOutput).
inline constexpr char outputsNonFinite[] = "fazolt:outputs:NonFinite";

/// A file that cannot be opened (or is a folder).
inline constexpr char ioCannotOpen[] = "fazolt:io:CannotOpen";
/// A file that opened but could not be read to its end.
inline constexpr char ioReadFailed[] = "fazolt:io:ReadFailed";
/// A file that cannot be created.
inline constexpr char ioCannotWrite[] = "fazolt:io:CannotWrite";
/// A file whose writing failed part way (disk full, ...).
inline constexpr char ioWriteFailed[] = "fazolt:io:WriteFailed";

/// A system file language or format name that is not json, fcl or fll.
inline constexpr char formatUnknown[] = "fazolt:format:Unknown";
/// A host function that the formats bring (bsum, firstmom, pointsmf, ...) got arguments it cannot use.
inline constexpr char formatsArgument[] = "fazolt:formats:Argument";
/// FCL text that cannot be read; the message starts with file and line.
inline constexpr char fclInvalid[] = "fazolt:fcl:Invalid";
/// FCL that has no counterpart in a description.
inline constexpr char fclUnsupported[] = "fazolt:fcl:Unsupported";
/// Warning: an FCL DEFAULT := NC, read as NaN (no previous value to keep).
inline constexpr char fclDefault[] = "fazolt:fcl:Default";
/// Warning (Python): FCL written with a rule weight above 0 and at most 1e-6, which fuzzylite treats as 0.
inline constexpr char fclNearZeroWeight[] = "fazolt:fcl:NearZeroWeight";
/// FLL text that cannot be read; the message starts with file and line.
inline constexpr char fllInvalid[] = "fazolt:fll:Invalid";
/// FLL that has no counterpart in a description.
inline constexpr char fllUnsupported[] = "fazolt:fll:Unsupported";
/// Warning: an FLL default that a description cannot keep (none now; kept for callers).
inline constexpr char fllDefault[] = "fazolt:fll:Default";
/// Warning (Python): FLL written with a rule weight above 0 and at most 1e-6, which fuzzylite treats as 0.
inline constexpr char fllNearZeroWeight[] = "fazolt:fll:NearZeroWeight";

/// A Lua error; the message starts with the script's file and line.
inline constexpr char luaError[] = "fazolt:lua:Error";
/// A Lua run went past its instruction budget.
inline constexpr char luaInstructionLimit[] = "fazolt:lua:InstructionLimit";
/// A Lua script's state went past its memory budget.
inline constexpr char luaMemoryLimit[] = "fazolt:lua:MemoryLimit";
/// A Lua script defines a function whose name is already a host function.
inline constexpr char luaNameTaken[] = "fazolt:lua:NameTaken";
/// An argument that a Lua function cannot receive.
inline constexpr char luaArgument[] = "fazolt:lua:Argument";
/// A Lua function's result does not suit its use in the system.
inline constexpr char luaResult[] = "fazolt:lua:Result";

/// Explaining: a row with the wrong number of inputs.
inline constexpr char explainInputCount[] = "fazolt:explain:InputCount";
/// Explaining: a surface without two inputs, an output, a full row and a resolution of 2 or more.
inline constexpr char explainBadSurface[] = "fazolt:explain:BadSurface";
/// Explaining: a raw record whose fields cannot be read for an explanation.
inline constexpr char explainUnreadableRecord[] = "fazolt:explain:UnreadableRecord";

/// C export: a system that generated C cannot compute exactly (a custom function, Mamdani wtaver, ...).
inline constexpr char exportUnsupported[] = "fazolt:export:Unsupported";
/// C export: a prefix that is not a C identifier.
inline constexpr char exportBadPrefix[] = "fazolt:export:BadPrefix";

/// Tool: a CSV field that is not a number.
inline constexpr char csvBadNumber[] = "fazolt:csv:BadNumber";
/// Tool: a CSV quote out of place or not closed.
inline constexpr char csvBadQuote[] = "fazolt:csv:BadQuote";
/// Tool: a carriage return that does not end a CSV line.
inline constexpr char csvBareCarriageReturn[] = "fazolt:csv:BareCarriageReturn";
/// Tool: a blank line among the CSV rows.
inline constexpr char csvBlankLine[] = "fazolt:csv:BlankLine";
/// Tool: a CSV header naming a column twice.
inline constexpr char csvDuplicateColumn[] = "fazolt:csv:DuplicateColumn";
/// Tool: a CSV header whose columns do not match the system's inputs.
inline constexpr char csvHeaderColumns[] = "fazolt:csv:HeaderColumns";
/// Tool: a CSV line longer than the tool reads.
inline constexpr char csvLineTooLong[] = "fazolt:csv:LineTooLong";
/// Tool: a CSV header without a column an input needs.
inline constexpr char csvMissingColumn[] = "fazolt:csv:MissingColumn";
/// Tool: CSV without a header line, where an option names its columns.
inline constexpr char csvNoHeader[] = "fazolt:csv:NoHeader";

/// Tool: an input assignment (NAME=VALUE) of the wrong form.
inline constexpr char inputBadAssignment[] = "fazolt:input:BadAssignment";
/// Tool: a diagnostics file that is not the 1 x 1 struct of uint8 modes.
inline constexpr char inputBadDiagnostics[] = "fazolt:input:BadDiagnostics";
/// Tool: an input value that is not a number.
inline constexpr char inputBadNumber[] = "fazolt:input:BadNumber";
/// Tool: an input or option the command needs was not given.
inline constexpr char inputMissing[] = "fazolt:input:Missing";
/// Tool: a surface asked over one input twice.
inline constexpr char inputSamePair[] = "fazolt:input:SamePair";
/// Tool: a variable name the system does not have.
inline constexpr char inputUnknownVariable[] = "fazolt:input:UnknownVariable";

/// Tool: a --jobs worker process cannot be started.
inline constexpr char jobsCannotStart[] = "fazolt:jobs:CannotStart";
/// Tool: waiting for the --jobs workers failed.
inline constexpr char jobsPollFailed[] = "fazolt:jobs:PollFailed";
/// Tool: a --jobs worker stopped before its rows were done.
inline constexpr char jobsWorkerStopped[] = "fazolt:jobs:WorkerStopped";

/// Python: an argument of the wrong type.
inline constexpr char pythonArgumentClass[] = "fazolt:python:ArgumentClass";
/// Python: an option value that is not allowed.
inline constexpr char pythonBadOption[] = "fazolt:python:BadOption";
/// Python: a registered Python function raised (the exception is the cause).
inline constexpr char pythonFunctionError[] = "fazolt:python:FunctionError";
/// Python: inputs that are not numbers.
inline constexpr char pythonInputClass[] = "fazolt:python:InputClass";
/// Python: inputs of the wrong shape (columns, dimensions).
inline constexpr char pythonInputShape[] = "fazolt:python:InputShape";
/// Python: a function name that cannot be registered or unregistered.
inline constexpr char pythonNameTaken[] = "fazolt:python:NameTaken";
/// Python: a system evaluated again from inside its own Python function.
inline constexpr char pythonReentrant[] = "fazolt:python:Reentrant";
/// Python: a Python function's result does not suit its use in the system.
inline constexpr char pythonResult[] = "fazolt:python:Result";
/// Python: a Python function returned something that is not numbers.
inline constexpr char pythonResultClass[] = "fazolt:python:ResultClass";
/// Python: a Python function returned numbers of a shape the host cannot take.
inline constexpr char pythonResultShape[] = "fazolt:python:ResultShape";

/// The module's diagnostic: an input outside its range (warning or error).
inline constexpr char moduleOutOfRangeInput[] = "diagFazolt_OutOfRangeInput";
/// The module's diagnostic: no rule fired for a row (warning).
inline constexpr char moduleNoRuleFiredWarning[] = "warnFazolt_NoRuleFired";
/// The module's diagnostic: no rule fired for a row (error).
inline constexpr char moduleNoRuleFired[] = "errFazolt_NoRuleFired";
/// The module's diagnostic: an output's aggregated set is empty (warning).
inline constexpr char moduleZeroMembershipValueWarning[] = "warnFazolt_ZeroMembershipValue";
/// The module's diagnostic: an output's aggregated set is empty (error).
inline constexpr char moduleZeroMembershipValue[] = "errFazolt_ZeroMembershipValue";
/// The module refuses a system record; the message names the field.
inline constexpr char moduleInvalidSystem[] = "fazolt:invalidSystem";

/// Tool: `fazolt bench` was given no rows.
inline constexpr char benchNoRows[] = "fazolt:bench:NoRows";
/// Tool: a `fazolt bench` repetition gave other output bits than the first.
inline constexpr char benchNondeterministic[] = "fazolt:bench:Nondeterministic";
/// A CSV file that cannot be read as rows (fitting's reader).
inline constexpr char csvInvalid[] = "fazolt:csv:Invalid";
/// An input named for term degrees that the system does not have.
inline constexpr char explainNoSuchInput[] = "fazolt:explain:NoSuchInput";
/// A row, a --row or a data matrix with more or fewer values than the system has inputs.
inline constexpr char inputColumnCount[] = "fazolt:input:ColumnCount";
/// A file that cannot be read.
inline constexpr char ioCannotRead[] = "fazolt:io:CannotRead";
/// Memory ran out in the tool.
inline constexpr char memoryOutOfMemory[] = "fazolt:memory:OutOfMemory";
/// Tool: `fazolt properties` names a property the system does not have.
inline constexpr char propertiesMissing[] = "fazolt:properties:Missing";
/// Fitting: a bad argument (row counts, a NaN, a target that is an input, an empty selection); the message names it.
inline constexpr char tuneBadArgument[] = "fazolt:tune:BadArgument";
/// Tool: `fazolt tune` cannot run Python.
inline constexpr char tuneNoPython[] = "fazolt:tune:NoPython";
/// Tool: `fazolt tune` needs a Python package that is missing (numpy, scipy or fazolt).
inline constexpr char tuneMissingPackage[] = "fazolt:tune:MissingPackage";
/// Tool warning: `fazolt check` of a maximum-based defuzzification over a sum-type aggregation.
inline constexpr char checkMaximumOverSum[] = "fazolt:check:MaximumOverSum";
/// Tool: `fazolt view` cannot listen on its address.
inline constexpr char viewCannotListen[] = "fazolt:view:CannotListen";
/// Tool: `fazolt view`'s port is taken.
inline constexpr char viewPortInUse[] = "fazolt:view:PortInUse";

/// Every identifier above, in the order above.
inline constexpr const char *all[] = {
    apiNestedTooDeep,
    apiDiagnosticMode,
    apiRaggedRows,
    apiSize,
    apiOutOfRange,
    apiInputNames,
    apiNameTaken,
    apiFunctionError,
    apiFunctionArguments,
    apiFunctionResult,
    descriptionInvalid,
    descriptionMalformed,
    samplesRawRecord,
    samplesInvalid,
    inputsNaN,
    outputsNonFinite,
    ioCannotOpen,
    ioReadFailed,
    ioCannotWrite,
    ioWriteFailed,
    formatUnknown,
    formatsArgument,
    fclInvalid,
    fclUnsupported,
    fclDefault,
    fclNearZeroWeight,
    fllInvalid,
    fllUnsupported,
    fllDefault,
    fllNearZeroWeight,
    luaError,
    luaInstructionLimit,
    luaMemoryLimit,
    luaNameTaken,
    luaArgument,
    luaResult,
    explainInputCount,
    explainBadSurface,
    explainUnreadableRecord,
    exportUnsupported,
    exportBadPrefix,
    csvBadNumber,
    csvBadQuote,
    csvBareCarriageReturn,
    csvBlankLine,
    csvDuplicateColumn,
    csvHeaderColumns,
    csvLineTooLong,
    csvMissingColumn,
    csvNoHeader,
    inputBadAssignment,
    inputBadDiagnostics,
    inputBadNumber,
    inputMissing,
    inputSamePair,
    inputUnknownVariable,
    jobsCannotStart,
    jobsPollFailed,
    jobsWorkerStopped,
    pythonArgumentClass,
    pythonBadOption,
    pythonFunctionError,
    pythonInputClass,
    pythonInputShape,
    pythonNameTaken,
    pythonReentrant,
    pythonResult,
    pythonResultClass,
    pythonResultShape,
    moduleOutOfRangeInput,
    moduleNoRuleFiredWarning,
    moduleNoRuleFired,
    moduleZeroMembershipValueWarning,
    moduleZeroMembershipValue,
    moduleInvalidSystem,
    benchNoRows,
    benchNondeterministic,
    csvInvalid,
    explainNoSuchInput,
    inputColumnCount,
    ioCannotRead,
    memoryOutOfMemory,
    propertiesMissing,
    tuneBadArgument,
    tuneNoPython,
    tuneMissingPackage,
    checkMaximumOverSum,
    viewCannotListen,
    viewPortInUse,
};

}  // namespace ids
}  // namespace fazolt

#endif
