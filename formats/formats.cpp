// The format entry points: FCL and FLL text to and from descriptions.
#include "fazolt/formats.h"
#include "common/errorBoundary.h"
#include "common/words.h"
#include "formats/languages.h"

#include <cctype>

namespace fazolt {

namespace {

std::string loweredExtension(const std::string &path) {
    std::string::size_type dot = path.rfind('.');
    std::string::size_type slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = path.substr(dot + 1);
    for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

}  // namespace

SystemFormat formatOfPath(const std::string &path) {
    std::string ext = loweredExtension(path);
    if (ext == "fcl") return SystemFormat::Fcl;
    if (ext == "fll") return SystemFormat::Fll;
    return SystemFormat::Json;
}

SystemFormat formatNamed(const std::string &name) try {
    if (name == "json") return SystemFormat::Json;
    if (name == "fcl") return SystemFormat::Fcl;
    if (name == "fll") return SystemFormat::Fll;
    throw orvane::HostError(ids::formatUnknown, "unknown format \"" + name + "\" (json, fcl or fll)");
} catch (const orvane::HostError &e) {
    rethrowAsError(e);
}

SystemDescription formats::readFile(std::string_view text, SystemFormat format, const std::string &fileName) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a UTF-8 byte-order mark
    SystemDescription description = format == SystemFormat::Fcl ? readFcl(text, fileName) : readFll(text, fileName);
    for (FormatWarning &w : description.warnings) w.message = printableText(w.message);
    return description;
}

namespace {

std::string descriptionOfFile(std::string_view text, SystemFormat format, const std::string &fileName,
                              std::vector<FormatWarning> *warnings) {
    SystemDescription description = formats::readFile(text, format, fileName);
    if (warnings != nullptr) warnings->insert(warnings->end(), description.warnings.begin(), description.warnings.end());
    return descriptionToJson(description);
}

}  // namespace

std::string descriptionFromFcl(std::string_view text, const std::string &fileName,
                               std::vector<FormatWarning> *warnings) try {
    return descriptionOfFile(text, SystemFormat::Fcl, fileName, warnings);
} catch (const orvane::HostError &e) {
    rethrowAsError(e);
}

std::string descriptionFromFll(std::string_view text, const std::string &fileName,
                               std::vector<FormatWarning> *warnings) try {
    return descriptionOfFile(text, SystemFormat::Fll, fileName, warnings);
} catch (const orvane::HostError &e) {
    rethrowAsError(e);
}

std::string descriptionFromText(std::string_view text, SystemFormat format, const std::string &fileName,
                                std::vector<FormatWarning> *warnings) try {
    if (format == SystemFormat::Json) return std::string(text);
    return descriptionOfFile(text, format, fileName, warnings);
} catch (const orvane::HostError &e) {
    rethrowAsError(e);
}

std::string descriptionToText(std::string_view descriptionJson, SystemFormat format) try {
    // Every check and message of the description, the names it left out filled in.
    SystemDescription model = descriptionFromJson(descriptionJson, HostFunctionNames::unchecked);
    if (format == SystemFormat::Json) return descriptionToJson(model);
    std::string text = format == SystemFormat::Fcl ? formats::writeFcl(model) : formats::writeFll(model);
    // Never a file that its own reader refuses: what slipped past the
    // writer's checks is refused here, with the reader's words.
    try {
        format == SystemFormat::Fcl ? formats::readFcl(text, "written") : formats::readFll(text, "written");
    } catch (const orvane::HostError &e) {
        throw orvane::HostError(format == SystemFormat::Fcl ? ids::fclUnsupported : ids::fllUnsupported,
                                "the file written would not read back: " + e.message());
    }
    return text;
} catch (const orvane::HostError &e) {
    rethrowAsError(e);
}

}  // namespace fazolt
