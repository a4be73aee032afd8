// The host-value JSON format: bit-exact round trips of every class, the
// shortest number text, and one clear error naming the place for each kind
// of malformed input; values decoded from hex pieces of a zlib stream.
#include <gtest/gtest.h>

#include <orvane/host.h>
#include <orvane/zorb.h>

#include <zlib.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

using orvane::Value;

uint64_t bitsOf(double v) {
    uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

uint32_t bitsOf(float v) {
    uint32_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

std::vector<uint64_t> doubleBits(const Value &v) {
    std::vector<uint64_t> out;
    for (int64_t i = 0; i < v.numel(); ++i) out.push_back(bitsOf(v.pr()[i]));
    return out;
}

// Every double written and read back keeps its bits; the text is the
// shortest that does, with the specials in words and -0.0 signed.
TEST(OrvaneJson, DoublesRoundTripBitForBitInShortestText) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Row {
        double value;
        const char *text;
    } rows[] = {
        {0.1, "0.1"},
        {-0.0, "-0.0"},
        {0.0, "0"},
        {1e-300, "1e-300"},
        {0x1p-1074, "5e-324"},                                // smallest subnormal
        {0x0.fffffffffffffp-1022, "2.225073858507201e-308"},  // largest subnormal
        {0x1.fffffffffffffp+1023, "1.7976931348623157e+308"},
        {1.0 / 3.0, "0.3333333333333333"},
        {123456789.0, "123456789"},
        {inf, "\"Inf\""},
        {-inf, "\"-Inf\""},
        {std::nan(""), "\"NaN\""},
    };
    std::vector<double> values;
    for (const Row &r : rows) {
        EXPECT_EQ(orvane::formatDouble(r.value, true), r.text);
        values.push_back(r.value);
    }
    Value original = Value::doubleMatrix(2, 6, values);
    std::string text = orvane::toJson(original);
    Value back = orvane::fromJson(text);
    EXPECT_EQ(back.className(), "double");
    EXPECT_EQ(back.dims(), (std::vector<int64_t>{2, 6}));
    EXPECT_EQ(doubleBits(back), doubleBits(original)) << text;
    EXPECT_EQ(orvane::toJson(back), text);
    EXPECT_EQ(orvane::formatDouble(-inf, false), "-Inf");
}

// "-0" is read as the integer 0 by the JSON parser itself; the sign must
// survive, also inside lists and next to look-alike tokens.
TEST(OrvaneJson, NegativeZeroKeepsItsSignInEveryWriting) {
    Value v = orvane::fromJson(R"({"class": "double", "size": [1, 6], "data": [-0, -0.0, -0e0, 0, -0.5, -10]})");
    EXPECT_EQ(doubleBits(v), (std::vector<uint64_t>{bitsOf(-0.0), bitsOf(-0.0), bitsOf(-0.0), bitsOf(0.0), bitsOf(-0.5),
                                                    bitsOf(-10.0)}));
    // A "-0" inside a string is not a number token and must not shift the count.
    Value s = orvane::fromJson(R"({"class": "struct", "size": [1, 1], "fields": ["-0"],
        "data": [[{"class": "single", "size": [1, 2], "data": [-0, 0]}]]})");
    Value f = s.field(0, "-0");
    ASSERT_TRUE(f);
    EXPECT_EQ(bitsOf(static_cast<float *>(f.data())[0]), bitsOf(-0.0f));
    EXPECT_EQ(bitsOf(static_cast<float *>(f.data())[1]), bitsOf(0.0f));
}

TEST(OrvaneJson, EveryNumericClassReadsItsRangeAndRoundTrips) {
    struct Row {
        const char *text;
        const char *className;
    } rows[] = {
        {R"({"class": "int8", "size": [1, 3], "data": [-128, 0, 127]})", "int8"},
        {R"({"class": "uint8", "size": [1, 2], "data": [0, 255]})", "uint8"},
        {R"({"class": "int16", "size": [1, 2], "data": [-32768, 32767]})", "int16"},
        {R"({"class": "uint16", "size": [1, 2], "data": [0, 65535]})", "uint16"},
        {R"({"class": "int32", "size": [1, 2], "data": [-2147483648, 2147483647]})", "int32"},
        {R"({"class": "uint32", "size": [1, 2], "data": [0, 4294967295]})", "uint32"},
        {R"({"class": "int64", "size": [1, 2], "data": [-9223372036854775808, 9223372036854775807]})", "int64"},
        {R"({"class": "uint64", "size": [1, 2], "data": [0, 18446744073709551615]})", "uint64"},
        {R"({"class": "single", "size": [1, 5], "data": [0.1, "NaN", "-Inf", 1e-45, 3.4028235e38]})", "single"},
        {R"({"class": "logical", "size": [2, 2], "data": [true, false, 0, 1]})", "logical"},
        {R"({"class": "double", "size": [1, 2], "data": [1, -2.5], "imag": [-0, "Inf"]})", "double"},
        {R"({"class": "int16", "size": [1, 1], "data": [3], "imag": [-4]})", "int16"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.text);
        Value v = orvane::fromJson(r.text);
        EXPECT_EQ(v.className(), r.className);
        std::string text = orvane::toJson(v);
        Value back = orvane::fromJson(text);
        EXPECT_EQ(orvane::toJson(back), text);
        EXPECT_EQ(back.dims(), v.dims());
        EXPECT_EQ(back.isComplex(), v.isComplex());
    }
    Value i64 = orvane::fromJson(rows[6].text);
    EXPECT_EQ(static_cast<int64_t *>(i64.data())[0], std::numeric_limits<int64_t>::min());
    Value u64 = orvane::fromJson(rows[7].text);
    EXPECT_EQ(static_cast<uint64_t *>(u64.data())[1], std::numeric_limits<uint64_t>::max());
    Value single = orvane::fromJson(rows[8].text);
    const float *f = static_cast<const float *>(single.data());
    EXPECT_EQ(bitsOf(f[0]), bitsOf(0.1f));
    EXPECT_TRUE(std::isnan(f[1]));
    EXPECT_EQ(bitsOf(f[3]), bitsOf(0x1p-149f));
    EXPECT_EQ(bitsOf(f[4]), bitsOf(std::numeric_limits<float>::max()));
    EXPECT_NE(orvane::toJson(single).find("0.1,"), std::string::npos) << "shortest single text";
    Value logical = orvane::fromJson(rows[9].text);
    const bool *b = static_cast<const bool *>(logical.data());
    EXPECT_EQ((std::vector<bool>{b[0], b[1], b[2], b[3]}), (std::vector<bool>{true, false, false, true}));
    Value complex = orvane::fromJson(rows[10].text);
    ASSERT_TRUE(complex.isComplex());
    EXPECT_EQ(bitsOf(static_cast<double *>(complex.imagData())[0]), bitsOf(-0.0));
    EXPECT_EQ(static_cast<double *>(complex.imagData())[1], std::numeric_limits<double>::infinity());
}

TEST(OrvaneJson, TextAsStringOrCodesAndUint8AsBytes) {
    Value word = orvane::fromJson(R"({"class": "char", "size": [1, 7], "data": "mamdani"})");
    EXPECT_EQ(word.className(), "char");
    EXPECT_EQ(word.toText(), "mamdani");
    Value codes = orvane::fromJson(R"({"class": "char", "size": [2, 2], "data": [97, 0, 255, 10]})");
    EXPECT_EQ(codes.dims(), (std::vector<int64_t>{2, 2}));
    EXPECT_EQ(codes.toText(), std::string("a\0\xff\n", 4));
    Value back = orvane::fromJson(orvane::toJson(codes));  // a byte above 127 is written as codes
    EXPECT_EQ(back.toText(), codes.toText());
    EXPECT_EQ(back.dims(), codes.dims());
    Value quoted = orvane::fromJson(orvane::toJson(Value::charRow("say \"hi\"\\\t\x01")));
    EXPECT_EQ(quoted.toText(), "say \"hi\"\\\t\x01");
    Value bytes = orvane::fromJson(R"({"class": "uint8", "size": [1, 3], "data": "ab\u0000"})");
    EXPECT_EQ(bytes.className(), "uint8");
    EXPECT_EQ(bytes.toText(), std::string("ab\0", 3));
}

TEST(OrvaneJson, StructsOfStructsAndEmptyValues) {
    const char *text = R"({"class": "struct", "size": [1, 2], "fields": ["mf", "origNumMF"], "data": [
        [{"class": "struct", "size": [1, 1], "fields": ["params"],
          "data": [[{"class": "double", "size": [1, 3], "data": [0, 0.5, 1]}]]},
         {"class": "int32", "size": [1, 1], "data": [3]}],
        [{"class": "struct", "size": [0, 0], "fields": ["params"], "data": []},
         {"class": "double", "size": [0, 3], "data": []}]]})";
    Value s = orvane::fromJson(text);
    EXPECT_EQ(s.className(), "struct");
    EXPECT_EQ(s.fieldNames(), (std::vector<std::string>{"mf", "origNumMF"}));
    Value params = s.field(0, "mf").field(0, "params");
    EXPECT_EQ(doubleBits(params), (std::vector<uint64_t>{bitsOf(0.0), bitsOf(0.5), bitsOf(1.0)}));
    EXPECT_EQ(static_cast<int32_t *>(s.field(0, "origNumMF").data())[0], 3);
    EXPECT_EQ(s.field(1, "mf").numel(), 0);
    EXPECT_EQ(s.field(1, "origNumMF").dims(), (std::vector<int64_t>{0, 3}));
    std::string written = orvane::toJson(s);
    EXPECT_EQ(orvane::toJson(orvane::fromJson(written)), written);

    EXPECT_EQ(orvane::fromJson(R"({"class": "double", "size": [5], "data": [1, 2, 3, 4, 5]})").dims(),
              (std::vector<int64_t>{5, 1}));
    EXPECT_EQ(orvane::fromJson(R"({"class": "char", "size": [0, 0], "data": ""})").numel(), 0);
    EXPECT_EQ(orvane::fromJson(R"({"class": "logical", "size": [3, 0], "data": []})").dims(),
              (std::vector<int64_t>{3, 0}));
    // An unset field is written as the empty double matrix.
    Value unset = Value::structMatrix({1, 1}, {"a"});
    Value a = orvane::fromJson(orvane::toJson(unset)).field(0, "a");
    ASSERT_TRUE(a);
    EXPECT_EQ(a.className(), "double");
    EXPECT_EQ(a.numel(), 0);
}

std::string nestedStructs(int levels) {
    std::string text;
    for (int i = 0; i < levels; ++i) text += R"({"class": "struct", "size": [1, 1], "fields": ["x"], "data": [[)";
    text += R"({"class": "double", "size": [0, 0], "data": []})";
    for (int i = 0; i < levels; ++i) text += "]]}";
    return text;
}

// Each malformed input gives one error whose identifier says what is wrong
// and whose message names where.
TEST(OrvaneJson, MalformedInputsNameThePlace) {
    struct Row {
        std::string text;
        const char *identifier;
        const char *place;
    } rows[] = {
        {R"({"class": "double", "size": [1, 2], "data": [1, 2,]})", "Orvane:json:syntax", "line 1, column 51"},
        {"{\"class\": \"double\",\n  \"size\": [1 1]}", "Orvane:json:syntax", "line 2, column 14"},
        {"", "Orvane:json:syntax", "line 1"},
        {R"({"class": "double", "size": [0, 0], "data": []} x)", "Orvane:json:syntax", "line 1"},
        {R"({"class": "double", "size": [1, 1], "data": [1e400]})", "Orvane:json:range", "line 1"},
        {R"({"class": "double", "data": []})", "Orvane:json:missingKey", "\"size\""},
        {R"({"size": [0, 0], "data": []})", "Orvane:json:missingKey", "\"class\""},
        {R"({"class": "double", "size": [0, 0], "data": [], "extra": 1})", "Orvane:json:unknownKey", "extra"},
        {R"({"class": "char", "size": [0, 0], "data": "", "imag": []})", "Orvane:json:unknownKey", "imag"},
        {R"({"class": "double", "class": "double", "size": [0, 0], "data": []})", "Orvane:json:duplicateKey", "class"},
        {R"({"class": "cell", "size": [0, 0], "data": []})", "Orvane:json:unknownClass", "class"},
        {R"({"class": "quaternion", "size": [0, 0], "data": []})", "Orvane:json:unknownClass", "class"},
        {R"({"class": "double", "size": [1, 3], "data": [1, 2]})", "Orvane:json:count", "data"},
        {R"({"class": "double", "size": [1, 2], "data": [1, 2], "imag": [1]})", "Orvane:json:count", "imag"},
        {R"({"class": "char", "size": [1, 3], "data": "ab"})", "Orvane:json:count", "data"},
        {R"({"class": "int8", "size": [1, 2], "data": [1, 128]})", "Orvane:json:range", "data[1]"},
        {R"({"class": "uint8", "size": [1, 1], "data": [-1]})", "Orvane:json:range", "data[0]"},
        {R"({"class": "int32", "size": [1, 2], "data": [1, 1.5]})", "Orvane:json:range", "data[1]"},
        {R"({"class": "uint64", "size": [1, 1], "data": [18446744073709551616]})", "Orvane:json:range", "data[0]"},
        {R"({"class": "single", "size": [1, 1], "data": [1e39]})", "Orvane:json:range", "data[0]"},
        {R"({"class": "int32", "size": [1, 1], "data": ["NaN"]})", "Orvane:json:type", "data[0]"},
        {R"({"class": "double", "size": [1, 2], "data": [1, "nan"]})", "Orvane:json:type", "data[1]"},
        {R"({"class": "logical", "size": [1, 2], "data": [true, 2]})", "Orvane:json:range", "data[1]"},
        {R"({"class": "char", "size": [1, 2], "data": [97, 256]})", "Orvane:json:range", "data[1]"},
        {R"({"class": "double", "size": [-1, 2], "data": []})", "Orvane:json:size", "size[0]"},
        {R"({"class": "double", "size": [1, 2.5], "data": []})", "Orvane:json:size", "size[1]"},
        {R"({"class": "double", "size": [], "data": []})", "Orvane:json:size", "size"},
        {R"({"class": "double", "size": [65536, 65536], "data": []})", "Orvane:json:size", "2147483647"},
        {R"({"class": "double", "size": [0, 4294967296], "data": []})", "Orvane:json:size", "size[1]"},
        {R"({"class": "struct", "size": [1, 1], "fields": ["a", "b", "a"], "data": [[]]})", "Orvane:json:field",
         "fields[2]"},
        {R"({"class": "struct", "size": [1, 1], "fields": ["a", 7], "data": [[]]})", "Orvane:json:type", "fields[1]"},
        {R"({"class": "struct", "size": [1, 2], "fields": ["a"], "data": [[{"class": "double", "size": [0, 0],
            "data": []}], []]})",
         "Orvane:json:count", "data[1]"},
        {R"({"class": "struct", "size": [1, 1], "fields": ["a", "b"], "data": [[
            {"class": "double", "size": [0, 0], "data": []},
            {"class": "double", "size": [-2, 0], "data": []}]]})",
         "Orvane:json:size", "data[0][1].size[0]"},
        {R"({"class": "struct", "size": [1, 1], "fields": ["a"], "data": [[{"class": "int8", "size": [1, 1],
            "data": [300]}]]})",
         "Orvane:json:range", "data[0][0].data[0]"},
        {"[1, 2]", "Orvane:json:type", "top level"},
        {nestedStructs(65), "Orvane:json:tooDeep", "64"},
        {std::string(100000, '[') + std::string(100000, ']'), "Orvane:json:tooDeep", "256"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.text.substr(0, 200));
        try {
            orvane::fromJson(r.text);
            ADD_FAILURE() << "no error";
        } catch (const orvane::HostError &e) {
            EXPECT_EQ(e.identifier(), r.identifier) << e.message();
            EXPECT_NE(e.message().find(r.place), std::string::npos) << e.message();
        }
    }
    EXPECT_EQ(orvane::fromJson(nestedStructs(64)).className(), "struct");
}

TEST(OrvaneJson, OversizedExtentsFailBeforeAnyAllocation) {
    int64_t before = orvane::allocStats().totalAllocations;
    EXPECT_THROW(orvane::fromJson(R"({"class": "double", "size": [2147483647, 2], "data": []})"), orvane::HostError);
    EXPECT_THROW(orvane::fromJson(R"({"class": "double", "size": [2147483647, 1], "data": [1]})"), orvane::HostError);
    EXPECT_EQ(orvane::allocStats().totalAllocations, before);
}

// ---- Values carried as hex pieces of a zlib stream.

std::vector<std::string> hexPieces(const std::string &text) {
    uLongf size = compressBound(static_cast<uLong>(text.size()));
    std::string packed(size, '\0');
    EXPECT_EQ(compress(reinterpret_cast<Bytef *>(packed.data()), &size, reinterpret_cast<const Bytef *>(text.data()),
                       static_cast<uLong>(text.size())),
              Z_OK);
    packed.resize(size);
    std::string hex;
    for (char c : packed) {
        static const char digits[] = "0123456789abcdef";
        hex += digits[static_cast<unsigned char>(c) >> 4];
        hex += digits[static_cast<unsigned char>(c) & 15];
    }
    std::vector<std::string> pieces;
    for (size_t i = 0; i < hex.size(); i += 256) pieces.push_back(hex.substr(i, 256));
    pieces.push_back("");
    return pieces;
}

Value capture(const std::vector<std::string> &pieces, int32_t inflatedLength) {
    std::vector<const char *> pointers;
    for (const std::string &p : pieces) pointers.push_back(p.c_str());
    zorbArray *result = nullptr;
    zorbNameCaptureQuvArray(pointers.data(), inflatedLength, &result);
    return Value(result);
}

TEST(OrvaneNameCapture, DecodesHexPiecesOfAZlibStream) {
    std::string text = R"({"class": "struct", "size": [1, 1], "fields": ["name", "line"], "data": [[
        {"class": "char", "size": [1, 6], "data": "fazolt"},
        {"class": "double", "size": [1, 40], "data": [)";
    for (int i = 0; i < 40; ++i) text += std::to_string(i * 0.1) + (i < 39 ? ", " : "");
    text += "]}]]}";
    std::vector<std::string> pieces = hexPieces(text);
    ASSERT_GT(pieces.size(), 2u) << "the test should span several pieces";
    Value v = capture(pieces, static_cast<int32_t>(text.size()));
    EXPECT_EQ(v.field(0, "name").toText(), "fazolt");
    EXPECT_EQ(v.field(0, "line").numel(), 40);
}

TEST(OrvaneNameCapture, MalformedPiecesRaise) {
    const std::string text = R"({"class": "double", "size": [1, 1], "data": [2]})";
    const int32_t length = static_cast<int32_t>(text.size());
    std::vector<std::string> good = hexPieces(text);
    auto upper = good;
    upper[0][0] = 'A';
    auto odd = good;
    odd[0].pop_back();
    auto truncated = good;
    truncated[0] = truncated[0].substr(0, truncated[0].size() - 8);
    auto tooLong = good;
    tooLong[0] = std::string(258, '0');
    auto trailing = good;
    trailing[trailing.size() - 2] += "00";
    std::vector<std::string> notJson = hexPieces("not json");
    struct Row {
        const char *name;
        std::vector<std::string> pieces;
        int32_t length;
        const char *identifier;
    } rows[] = {
        {"upper-case digit", upper, length, "Orvane:nameCapture:badPieces"},
        {"odd digit count", odd, length, "Orvane:nameCapture:badPieces"},
        {"piece over 256 digits", tooLong, length, "Orvane:nameCapture:badPieces"},
        {"truncated stream", truncated, length, "Orvane:nameCapture:zlib"},
        {"bytes after the stream", trailing, length, "Orvane:nameCapture:zlib"},
        {"announced length too short", good, length - 1, "Orvane:nameCapture:length"},
        {"announced length too long", good, length + 1, "Orvane:nameCapture:length"},
        {"negative length", good, -1, "Orvane:nameCapture:length"},
        {"text that is not JSON", notJson, 8, "Orvane:json:syntax"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        try {
            capture(r.pieces, r.length);
            ADD_FAILURE() << "no error";
        } catch (const orvane::HostError &e) {
            EXPECT_EQ(e.identifier(), r.identifier) << e.message();
        }
    }
    EXPECT_EQ(capture(good, length).pr()[0], 2.0);
}

}  // namespace
