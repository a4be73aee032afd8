// A whole module call, as a host makes it, on a system record and inputs
// derived from the fuzz input:
//  - text that reads as a host-value struct is the record itself, called
//    with a few rows of inputs;
//  - text that reads as another host value is the inputs for the first seed
//    record;
//  - anything else is bytes that pick a seed record, the result count, the
//    diagnostics modes and input rows, then overwrite numeric and character
//    elements anywhere in the record, so that mostly valid records reach the
//    evaluation and not only the checks.
// After every call nothing may stay allocated, the heap-reference stack must
// be empty, and the module may fail only with its own errors.
#include "fuzz/fuzz_support.h"

#include <fazolt/description.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

// A numeric or character array somewhere in the record.
struct Leaf {
    zorbClassID classId;
    void *data;
    int64_t numel;
};

// A seed record, read once: an input's tweaks are undone after its call,
// which is much cheaper than reading the record again.
struct Seed {
    orvane::Value record;
    std::vector<Leaf> leaves;
    std::vector<double> lo, hi;  // input ranges
};

// An element's bytes before a tweak.
struct Undo {
    unsigned char *at;
    size_t size;
    unsigned char saved[8];
};

// Never destroyed: unloading at process exit would run the module's at-exit
// function after the host's own registries are gone.
std::shared_ptr<orvane::Module> &module() {
    static auto *m = new std::shared_ptr<orvane::Module>();
    return *m;
}

std::vector<Seed> &seeds() {
    static auto *s = new std::vector<Seed>();  // host values: kept past the host's own teardown
    return *s;
}

std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fuzz_support::fail(("cannot read " + path).c_str());
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void collectLeaves(const orvane::Value &v, std::vector<Leaf> &leaves);

Seed makeSeed(const std::string &path) {
    Seed seed;
    seed.record = orvane::fromJson(readFile(path));
    collectLeaves(seed.record, seed.leaves);
    orvane::Value range = seed.record.field(0, "inputRange");
    std::vector<double> d = range.toDoubles();
    size_t n = d.size() / 2;
    for (size_t c = 0; c < n; ++c) {
        seed.lo.push_back(d[c]);
        seed.hi.push_back(d[c + n]);
    }
    return seed;
}

// The custom AND method that the Lukasiewicz seed names.
void lukasiewicz(int, std::vector<orvane::Value> &results, const std::vector<orvane::Value> &arguments) {
    if (arguments.size() != 1) orvane::raise("fuzz:lukasiewicz", "expected one argument");
    std::vector<double> v = arguments[0].toDoubles();
    double sum = 0.0;
    for (double x : v) sum += x;
    double y = v.empty() ? 1.0 : sum - static_cast<double>(v.size() - 1);
    results.assign(1, orvane::Value::doubleScalar(y > 0.0 ? y : 0.0));
}

// Reads the fuzz input front to back; past the end every read is zero.
class ByteReader {
public:
    ByteReader(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    bool done() const { return pos_ >= size_; }
    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    double rawDouble() {
        uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(byte()) << (8 * i);
        double v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

// An input value: mostly a point on or a little beyond [lo, hi], sometimes
// a special value or raw bits.
double inputValue(ByteReader &in, double lo, double hi) {
    uint8_t b = in.byte();
    switch (b) {
        case 0xF0: return std::numeric_limits<double>::quiet_NaN();
        case 0xF1: return std::numeric_limits<double>::infinity();
        case 0xF2: return -std::numeric_limits<double>::infinity();
        case 0xF3: return -0.0;
        default: break;
    }
    if (b > 0xF3) return in.rawDouble();
    return lo + (hi - lo) * ((static_cast<double>(b) - 16.0) / 208.0);
}

void collectLeaves(const orvane::Value &v, std::vector<Leaf> &leaves) {
    if (!v) return;
    zorbClassID id = v.classId();
    if (id == ZORB_STRUCT_CLASS) {
        for (int64_t e = 0; e < v.numel(); ++e) {
            for (const std::string &name : v.fieldNames()) collectLeaves(v.field(e, name), leaves);
        }
        return;
    }
    if (v.numel() > 0 && v.data() != nullptr) leaves.push_back({id, v.data(), v.numel()});
}

int32_t toInt32(double x) {
    if (!(x >= -2147483648.0)) return std::isnan(x) ? 0 : std::numeric_limits<int32_t>::min();
    if (!(x <= 2147483647.0)) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(x);
}

Undo saveElement(void *at, size_t size) {
    Undo undo{static_cast<unsigned char *>(at), size, {}};
    std::memcpy(undo.saved, at, size);
    return undo;
}

// Overwrites one element of one leaf as the next bytes say.
void tweak(ByteReader &in, const std::vector<Leaf> &leaves, std::vector<Undo> &undo) {
    size_t index = in.byte() % leaves.size();
    const Leaf &leaf = leaves[index];
    int64_t element = static_cast<int64_t>(in.byte()) % leaf.numel;
    uint8_t op = in.byte();
    if (std::getenv("FUZZ_SHOW_TWEAKS") != nullptr) {
        std::fprintf(stderr, "tweak: leaf %zu (class %d, %lld elements) element %lld op %d\n", index,
                     static_cast<int>(leaf.classId), static_cast<long long>(leaf.numel),
                     static_cast<long long>(element), op);
    }
    if (leaf.classId == ZORB_CHAR_CLASS || leaf.classId == ZORB_UINT8_CLASS || leaf.classId == ZORB_INT8_CLASS ||
        leaf.classId == ZORB_LOGICAL_CLASS) {
        undo.push_back(saveElement(static_cast<uint8_t *>(leaf.data) + element, 1));
        static_cast<uint8_t *>(leaf.data)[element] = in.byte();
        return;
    }
    double current = 0.0;
    if (leaf.classId == ZORB_DOUBLE_CLASS) {
        current = static_cast<double *>(leaf.data)[element];
    } else if (leaf.classId == ZORB_INT32_CLASS) {
        current = static_cast<int32_t *>(leaf.data)[element];
    } else {
        return;  // other classes are not in a record; leave them be
    }
    double next = 0.0;
    switch (op & 7) {
        case 0: next = in.rawDouble(); break;
        case 1: next = static_cast<double>(op >> 3) - 8.0; break;
        case 2: next = current + 1.0; break;
        case 3: next = current - 1.0; break;
        case 4: next = std::numeric_limits<double>::quiet_NaN(); break;
        case 5:
            next = (op & 8) ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
            break;
        case 6: next = current * 2.0; break;
        default: next = (op & 8) ? -0.0 : 0.0; break;
    }
    if (leaf.classId == ZORB_DOUBLE_CLASS) {
        undo.push_back(saveElement(static_cast<double *>(leaf.data) + element, sizeof(double)));
        static_cast<double *>(leaf.data)[element] = next;
    } else {
        undo.push_back(saveElement(static_cast<int32_t *>(leaf.data) + element, sizeof(int32_t)));
        static_cast<int32_t *>(leaf.data)[element] = toInt32(next);
    }
}

// A valid record may size the evaluation's buffers up to 2^31-1 elements
// (orrSize, aggSize, the membership function counts, whose entries past
// the variables still count), and the module then rightly asks the host for
// that much; such calls are skipped so that libFuzzer's memory limit reports
// only what a record cannot legitimately ask for.
bool sizesWithinFuzzLimit(const orvane::Value &record) {
    if (record.classId() != ZORB_STRUCT_CLASS || record.numel() < 1) return true;
    auto numbers = [&](const char *name) {
        orvane::Value v = record.field(0, name);
        if (!v || v.classId() == ZORB_STRUCT_CLASS || v.classId() == ZORB_CELL_CLASS) return std::vector<double>();
        return v.toDoubles();
    };
    for (const char *name : {"orrSize", "aggSize"}) {
        std::vector<double> d = numbers(name);
        if (d.size() == 2 && std::fabs(d[0]) * std::fabs(d[1]) > 1048576.0) return false;
    }
    for (const char *name : {"numInputMFs", "numOutputMFs"}) {
        double total = 0.0;
        for (double n : numbers(name)) total += std::fabs(n);
        if (total > 65536.0) return false;
    }
    return true;
}

void checkOutcome(const orvane::CallOutcome &outcome) {
    if (outcome.error && outcome.error->identifier().rfind("Orvane:module:", 0) == 0) {
        std::fprintf(stderr, "%s: %s\n", outcome.error->identifier().c_str(), outcome.error->message().c_str());
        fuzz_support::fail("the call broke the host's boundary rules");
    }
    if (outcome.leakedValues != 0) fuzz_support::fail("the call leaked host values");
}

// Rows in SIMD lanes must give the row path's outcome bit for bit: each
// call runs at a forced lane level (picked by the input) and again with the
// row path forced, and the two outcomes must be the same.
orvane::CallOutcome callAtLaneLevels(const char *level, int numResults, const std::vector<orvane::Value> &arguments) {
    setenv("FAZOLT_LANES", "scalar", 1);
    const orvane::CallOutcome rowPath = module()->call(numResults, arguments);
    setenv("FAZOLT_LANES", level, 1);
    orvane::CallOutcome outcome = module()->call(numResults, arguments);
    if (fuzz_support::outcomeText(outcome) != fuzz_support::outcomeText(rowPath)) {
        std::fprintf(stderr, "at %s:\n%s\nrow path:\n%s\n", level, fuzz_support::outcomeText(outcome).c_str(),
                     fuzz_support::outcomeText(rowPath).c_str());
        fuzz_support::fail("rows in lanes and the row path disagree");
    }
    return outcome;
}

const char *laneLevelFor(size_t size) { return size % 2 == 0 ? "avx512" : "avx2"; }

orvane::Value fixedInputs(int64_t numCols) {
    static const double values[] = {0.0, 0.5, 1.0, 25.0, 50.0, 75.0, -3.0, 0.25};
    const int64_t numRows = 3;
    std::vector<double> data(static_cast<size_t>(numRows * numCols));
    for (size_t i = 0; i < data.size(); ++i) data[i] = values[i % 8];
    return orvane::Value::doubleMatrix(numRows, numCols, data);
}

void callFromJson(const orvane::Value &value) {
    orvane::Value record;
    orvane::Value inputs;
    if (value.classId() == ZORB_STRUCT_CLASS) {
        record = value;
        int64_t numCols = 1;
        orvane::Value count = record.numel() > 0 ? record.field(0, "numInputs") : orvane::Value();
        if (count && count.numel() == 1 && count.classId() != ZORB_STRUCT_CLASS && count.classId() != ZORB_CELL_CLASS) {
            double n = count.toDoubles()[0];
            if (n >= 0.0 && n <= 16.0) numCols = static_cast<int64_t>(n);
        }
        inputs = fixedInputs(numCols);
    } else {
        record = seeds()[0].record;
        inputs = value;
    }
    if (!sizesWithinFuzzLimit(record)) return;
    orvane::CallOutcome outcome = callAtLaneLevels(laneLevelFor(static_cast<size_t>(record.numel())), 6,
                                                   {inputs, record, fazolt::makeDiagnostics(2, 2, 2, "fuzz")});
    checkOutcome(outcome);
}

void callFromBytes(const uint8_t *data, size_t size) {
    ByteReader in(data, size);
    uint8_t pick = in.byte();
    const Seed &seed = seeds()[pick % seeds().size()];
    int numResults = (pick >> 2) % 7;
    uint8_t modes = in.byte();
    uint8_t shape = in.byte();
    // Up to 19 rows, so that blocks of SIMD lanes come before the last row.
    int64_t numRows = shape % 5 + 5 * ((shape >> 3) & 3);
    int64_t numCols = static_cast<int64_t>(seed.lo.size()) + ((shape >> 5) == 7 ? 1 : 0);

    std::vector<double> values(static_cast<size_t>(numRows * numCols));
    for (int64_t c = 0; c < numCols; ++c) {
        size_t k = static_cast<size_t>(c) < seed.lo.size() ? static_cast<size_t>(c) : 0;
        for (int64_t r = 0; r < numRows; ++r)
            values[static_cast<size_t>(r + c * numRows)] = inputValue(in, seed.lo[k], seed.hi[k]);
    }
    std::vector<Undo> undo;
    while (!in.done() && !seed.leaves.empty()) tweak(in, seed.leaves, undo);

    orvane::Value diagnostics = fazolt::makeDiagnostics(modes & 3, (modes >> 2) & 3, (modes >> 4) & 3, "fuzz", {},
                                                        static_cast<uint8_t>((modes >> 6) & 1));
    if (!sizesWithinFuzzLimit(seed.record)) {
        for (auto u = undo.rbegin(); u != undo.rend(); ++u) std::memcpy(u->at, u->saved, u->size);
        return;
    }
    orvane::CallOutcome outcome =
        callAtLaneLevels(laneLevelFor(size), numResults,
                         {orvane::Value::doubleMatrix(numRows, numCols, values), seed.record, diagnostics});
    for (auto u = undo.rbegin(); u != undo.rend(); ++u) std::memcpy(u->at, u->saved, u->size);
    checkOutcome(outcome);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    module() = orvane::Module::load(FAZOLT_MODULE_PATH);
    orvane::registerFunction("lukasiewicz", lukasiewicz);
    const char *paths[] = {"examples/call/fis.json", "examples/dimmer/dimmer.record.json",
                           "examples/sugeno/brake.record.json", "examples/custom_method/lukasiewicz.record.json"};
    for (const char *path : paths) seeds().push_back(makeSeed(std::string(FAZOLT_SOURCE_DIR) + "/" + path));
    // The first call sets up what the module keeps for the process.
    uint8_t warmUp[] = {0x18, 0x2a, 0x02, 0x40, 0x80};
    for (size_t s = 0; s < seeds().size(); ++s) {
        warmUp[0] = static_cast<uint8_t>(0x18 + s);
        callFromBytes(warmUp, sizeof warmUp);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_support::BalanceCheck balance;
    {
        orvane::Value value;
        if (size > 0 && data[0] == '{') {
            try {
                value = orvane::fromJson(std::string_view(reinterpret_cast<const char *>(data), size));
            } catch (const orvane::HostError &) {
            }
        }
        if (value) {
            callFromJson(value);
        } else {
            callFromBytes(data, size);
        }
    }
    balance.verify();
    return 0;
}
