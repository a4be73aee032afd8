// The format entry points: FCL and FLL text to and from descriptions.
#include "fazolt/formats.h"
#include "common/errorBoundary.h"
#include "common/words.h"
#include "formats_model.h"

#include <cctype>

namespace fazolt {

namespace formats {
Model modelFromFcl(std::string_view text, const std::string &fileName);
Model modelFromFll(std::string_view text, const std::string &fileName);
std::string modelToFcl(const Model &model);
std::string modelToFll(const Model &model);
}  // namespace formats

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

namespace {

std::string_view withoutByteOrderMark(std::string_view text) {
    return text.substr(0, 3) == "\xEF\xBB\xBF" ? text.substr(3) : text;
}

std::string descriptionOfModel(formats::Model model, std::vector<FormatWarning> *warnings) {
    for (const FormatWarning &w : model.warnings) {
        if (warnings != nullptr) warnings->push_back({w.identifier, printableText(w.message)});
    }
    return formats::modelToDescription(model);
}

}  // namespace

std::string descriptionFromFcl(std::string_view text, const std::string &fileName,
                               std::vector<FormatWarning> *warnings) try {
    return descriptionOfModel(formats::modelFromFcl(withoutByteOrderMark(text), fileName), warnings);
} catch (const orvane::HostError &e) {
    rethrowAsError(e);
}

std::string descriptionFromFll(std::string_view text, const std::string &fileName,
                               std::vector<FormatWarning> *warnings) try {
    return descriptionOfModel(formats::modelFromFll(withoutByteOrderMark(text), fileName), warnings);
} catch (const orvane::HostError &e) {
    rethrowAsError(e);
}

std::string descriptionFromText(std::string_view text, SystemFormat format, const std::string &fileName,
                                std::vector<FormatWarning> *warnings) try {
    if (format == SystemFormat::Fcl) return descriptionFromFcl(text, fileName, warnings);
    if (format == SystemFormat::Fll) return descriptionFromFll(text, fileName, warnings);
    return std::string(text);
} catch (const orvane::HostError &e) {
    rethrowAsError(e);
}

std::string descriptionToText(std::string_view descriptionJson, SystemFormat format) try {
    formats::Model model = formats::modelFromDescription(descriptionJson);
    if (format == SystemFormat::Json) return formats::modelToDescription(model);
    std::string text = format == SystemFormat::Fcl ? formats::modelToFcl(model) : formats::modelToFll(model);
    // Never a file that its own reader refuses: what slipped past the
    // writer's checks is refused here, with the reader's words.
    try {
        format == SystemFormat::Fcl ? formats::modelFromFcl(text, "written") : formats::modelFromFll(text, "written");
    } catch (const orvane::HostError &e) {
        throw orvane::HostError(format == SystemFormat::Fcl ? ids::fclUnsupported : ids::fllUnsupported,
                                "the file written would not read back: " + e.message());
    }
    return text;
} catch (const orvane::HostError &e) {
    rethrowAsError(e);
}

}  // namespace fazolt
