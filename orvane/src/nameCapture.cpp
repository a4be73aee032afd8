// Decodes a host value that a module carries as hex text pieces of a zlib
// stream of host-value JSON (its record of resolved functions).
#include <orvane/host.h>
#include <orvane/zorb.h>

#include <zlib.h>

#include <string>

namespace {

constexpr size_t kMaxPieceDigits = 256;

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string decodePieces(const char *const *pieces) {
    std::string bytes;
    int pending = -1;  // the high digit of a byte split across two pieces
    for (size_t p = 0;; ++p) {
        const char *piece = pieces[p];
        if (piece == nullptr)
            orvane::raise("Orvane:nameCapture:badPieces",
                          "piece " + std::to_string(p) + " is a null pointer before the empty terminator");
        if (piece[0] == '\0') break;
        size_t length = 0;
        for (; piece[length] != '\0'; ++length) {
            if (length >= kMaxPieceDigits)
                orvane::raise("Orvane:nameCapture:badPieces",
                              "piece " + std::to_string(p) + " holds more than 256 hex digits");
            int digit = hexDigit(piece[length]);
            if (digit < 0)
                orvane::raise("Orvane:nameCapture:badPieces",
                              "piece " + std::to_string(p) + " has a character that is not a lower-case hex digit at " +
                                  std::to_string(length));
            if (pending < 0) {
                pending = digit;
            } else {
                bytes.push_back(static_cast<char>(pending * 16 + digit));
                pending = -1;
            }
        }
    }
    if (pending >= 0) orvane::raise("Orvane:nameCapture:badPieces", "the pieces hold an odd number of hex digits");
    return bytes;
}

std::string inflateExactly(const std::string &compressed, int32_t inflatedLength) {
    std::string text(static_cast<size_t>(inflatedLength), '\0');
    // One spare byte tells "longer than announced" from "exactly as long".
    std::string spare(1, '\0');
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) orvane::raise("Orvane:nameCapture:zlib", "cannot start decompression");
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(compressed.data()));
    stream.avail_in = static_cast<uInt>(compressed.size());
    stream.next_out = reinterpret_cast<Bytef *>(text.data());
    stream.avail_out = static_cast<uInt>(text.size());
    int status = inflate(&stream, Z_FINISH);
    if (status != Z_STREAM_END && stream.avail_out == 0) {
        stream.next_out = reinterpret_cast<Bytef *>(spare.data());
        stream.avail_out = 1;
        status = inflate(&stream, Z_FINISH);
    }
    const uLong produced = stream.total_out;
    const uInt unread = stream.avail_in;
    inflateEnd(&stream);
    if (produced > static_cast<uLong>(inflatedLength))
        orvane::raise("Orvane:nameCapture:length",
                      "the stream inflates to more than the announced " + std::to_string(inflatedLength) + " bytes");
    if (status != Z_STREAM_END)
        orvane::raise("Orvane:nameCapture:zlib",
                      "the pieces are not a complete zlib stream (zlib status " + std::to_string(status) + ")");
    if (produced != static_cast<uLong>(inflatedLength))
        orvane::raise("Orvane:nameCapture:length", "the stream inflates to " + std::to_string(produced) +
                                                       " bytes, not the announced " + std::to_string(inflatedLength));
    if (unread != 0)
        orvane::raise("Orvane:nameCapture:zlib", std::to_string(unread) + " bytes follow the end of the zlib stream");
    return text;
}

}  // namespace

extern "C" ORVANE_API void zorbNameCaptureQuvArray(const char *const *pieces, int32_t inflatedLength,
                                                   zorbArray **result) {
    if (pieces == nullptr || result == nullptr)
        orvane::raise("Orvane:nameCapture:badPieces", "null piece list or result slot");
    if (inflatedLength < 0)
        orvane::raise("Orvane:nameCapture:length", "negative inflated length " + std::to_string(inflatedLength));
    std::string compressed = decodePieces(pieces);
    std::string text = inflateExactly(compressed, inflatedLength);
    *result = orvane::fromJson(text).release();
}
