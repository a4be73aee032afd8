#include "bench/bench_record.h"

#include <fazolt/description.h>
#include <orvane/host.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

void copyText(const orvane::Value &value, DynArray<uint8_t> *target) {
    std::string text = value.toText();
    resize2D(target, 1, static_cast<int32_t>(text.size()));
    if (!text.empty()) std::memcpy(target->data, text.data(), text.size());
}

// Keeps the value's own shape: two extents for a 2-D target, the element
// count for a 1-D one.
void copyDoubles(const orvane::Value &value, DynArray<double> *target) {
    std::vector<double> values = value.toDoubles();
    if (target->numDimensions == 1) {
        resize1D(target, static_cast<int32_t>(values.size()));
    } else {
        resize2D(target, static_cast<int32_t>(value.dims()[0]), static_cast<int32_t>(value.dims()[1]));
    }
    for (size_t k = 0; k < values.size(); ++k) target->data[k] = values[k];
}

void copyInt32s(const orvane::Value &value, DynArray<int32_t> *target) {
    std::vector<double> values = value.toDoubles();
    resize2D(target, static_cast<int32_t>(value.dims()[0]), static_cast<int32_t>(value.dims()[1]));
    for (size_t k = 0; k < values.size(); ++k) target->data[k] = static_cast<int32_t>(values[k]);
}

int32_t int32Of(const orvane::Value &value) { return static_cast<int32_t>(value.toDoubles().at(0)); }

void copyVariables(const orvane::Value &value, DynArray<VariableRecord> *target) {
    resize2D(target, 1, static_cast<int32_t>(value.numel()));
    for (int64_t v = 0; v < value.numel(); ++v) {
        VariableRecord &var = target->data[v];
        orvane::Value mfs = value.field(v, "mf");
        var.origNumMF = int32Of(value.field(v, "origNumMF"));
        resize2D(var.mf, 1, static_cast<int32_t>(mfs.numel()));
        for (int64_t j = 0; j < mfs.numel(); ++j) {
            MFRecord &mf = var.mf->data[j];
            copyText(mfs.field(j, "type"), mf.type);
            mf.origTypeLength = int32Of(mfs.field(j, "origTypeLength"));
            copyDoubles(mfs.field(j, "params"), mf.params);
            mf.origParamLength = int32Of(mfs.field(j, "origParamLength"));
        }
    }
}

void copyRecord(const orvane::Value &r, SystemRecord *fis) {
    copyText(r.field(0, "type"), fis->type);
    copyText(r.field(0, "andMethod"), fis->andMethod);
    copyText(r.field(0, "orMethod"), fis->orMethod);
    copyText(r.field(0, "defuzzMethod"), fis->defuzzMethod);
    copyText(r.field(0, "impMethod"), fis->impMethod);
    copyText(r.field(0, "aggMethod"), fis->aggMethod);
    copyDoubles(r.field(0, "inputRange"), fis->inputRange);
    copyDoubles(r.field(0, "outputRange"), fis->outputRange);
    copyVariables(r.field(0, "inputMF"), fis->inputMF);
    copyVariables(r.field(0, "outputMF"), fis->outputMF);
    copyDoubles(r.field(0, "antecedent"), fis->antecedent);
    copyDoubles(r.field(0, "consequent"), fis->consequent);
    copyDoubles(r.field(0, "connection"), fis->connection);
    copyDoubles(r.field(0, "weight"), fis->weight);
    fis->numSamples = int32Of(r.field(0, "numSamples"));
    fis->numInputs = int32Of(r.field(0, "numInputs"));
    fis->numOutputs = int32Of(r.field(0, "numOutputs"));
    fis->numRules = int32Of(r.field(0, "numRules"));
    copyInt32s(r.field(0, "numInputMFs"), fis->numInputMFs);
    copyInt32s(r.field(0, "numCumInputMFs"), fis->numCumInputMFs);
    copyInt32s(r.field(0, "numOutputMFs"), fis->numOutputMFs);
    copyInt32s(r.field(0, "numCumOutputMFs"), fis->numCumOutputMFs);
    copyDoubles(r.field(0, "outputSamplePoints"), fis->outputSamplePoints);
    std::vector<double> orr = r.field(0, "orrSize").toDoubles();
    std::vector<double> agg = r.field(0, "aggSize").toDoubles();
    for (int k = 0; k < 2; ++k) {
        fis->orrSize[k] = static_cast<int32_t>(orr.at(static_cast<size_t>(k)));
        fis->aggSize[k] = static_cast<int32_t>(agg.at(static_cast<size_t>(k)));
    }
}

}  // namespace

BenchSystem::BenchSystem(const std::string &descriptionPath) {
    std::ifstream in(descriptionPath, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + descriptionPath);
    std::ostringstream text;
    text << in.rdbuf();
    fazolt::BuiltSystem built = fazolt::buildSystem(text.str());
    name = built.name;
    initSystemRecord(nullptr, &fis);
    copyRecord(built.record, &fis);
}

BenchSystem::~BenchSystem() { releaseSystemRecord(&fis); }

QuietDiagnostics::QuietDiagnostics() {
    initArray(&options.Model, 2);
    initArray(&options.Block, 2);
    resize2D(options.Model, 1, 5);
    std::memcpy(options.Model->data, "bench", 5);
}

QuietDiagnostics::~QuietDiagnostics() {
    releaseArray(&options.Block);
    releaseArray(&options.Model);
}

std::string benchSystemsDir() {
    const char *dir = std::getenv("FAZOLT_BENCH_SYSTEMS");
    return dir != nullptr && *dir != '\0' ? dir : FAZOLT_BENCH_SYSTEMS;
}
