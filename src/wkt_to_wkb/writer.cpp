#include "wkt_to_wkb/writer.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "lib/geometry.hpp"
#include "lib/sse2.hpp"
#include "wkb_to_wkt/reader.hpp"

namespace quorvel {

namespace {

// The largest element count a u32 count field holds.
constexpr std::uint32_t MAX_LIST_LENGTH = 0xFFFFFFFFu;

// Coordinate tuples read in one call of the tokenizer.
constexpr std::uint32_t RUN_TUPLES = 32;

// Bits of the quiet NaN that stands for each ordinate of an empty point.
constexpr std::uint64_t EMPTY_ORDINATE_BITS = 0x7FF8000000000000u;

std::size_t reserve_size(std::size_t input_length) noexcept {
    return std::min(input_length, OUTPUT_RESERVE_CAP);
}

// Binary EWKB, little endian.
class BinarySink {
public:
    BinarySink(OutputBuffer& out, std::size_t input_length) : out_(out) {
        if (const std::size_t n = reserve_size(input_length); n != 0) out_.reserve(n);
    }

    void header(std::uint32_t type_word) {
        char b[5];
        b[0] = 0x01;
        store_u32(b + 1, type_word, true);
        out_.append(b, sizeof b);
    }
    void header_with_srid(std::uint32_t type_word, std::int32_t srid) {
        char b[9];
        b[0] = 0x01;
        store_u32(b + 1, type_word, true);
        store_u32(b + 5, static_cast<std::uint32_t>(srid), true);
        out_.append(b, sizeof b);
    }
    void ordinate(double value) { store_f64(out_.claim(8), value, true); }
    void ordinates(const double* values, int n) {
        char* p = out_.claim(8 * static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) store_f64(p + 8 * i, values[i], true);
    }
    void empty_ordinates(int n) {
        for (int i = 0; i < n; ++i) ordinate(std::bit_cast<double>(EMPTY_ORDINATE_BITS));
    }
    void zero_count() { out_.append(4, '\0'); }
    // Returns the byte offset of a zero count that patch_count overwrites later.
    std::size_t count_placeholder() {
        const std::size_t at = out_.size();
        out_.append(4, '\0');
        return at;
    }
    void patch_count(std::size_t at, std::uint32_t count) {
        store_u32(out_.data() + at, count, true);
    }

private:
    OutputBuffer& out_;
};

// The same bytes as uppercase hex digits, written directly.
class HexSink {
public:
    HexSink(OutputBuffer& out, std::size_t input_length) : out_(out) {
        if (const std::size_t n = reserve_size(input_length); n != 0) out_.reserve(2 * n);
    }

    void header(std::uint32_t type_word) {
        char b[10];
        b[0] = '0';
        b[1] = '1';
        put_u32(b + 2, type_word);
        out_.append(b, sizeof b);
    }
    void header_with_srid(std::uint32_t type_word, std::int32_t srid) {
        char b[18];
        b[0] = '0';
        b[1] = '1';
        put_u32(b + 2, type_word);
        put_u32(b + 10, static_cast<std::uint32_t>(srid));
        out_.append(b, sizeof b);
    }
    // Little endian: the lowest byte's digits first.
    void ordinate(double value) {
        const auto bits = std::bit_cast<std::uint64_t>(value);
        char* p = out_.claim(16);
#ifdef QUORVEL_HAVE_SSE2
        // All sixteen digits at once: the nibbles interleaved high first, then '0'
        // added, and 7 more for the letters.
        const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&bits));
        const __m128i low_nibbles = _mm_and_si128(bytes, _mm_set1_epi8(0x0F));
        const __m128i high_nibbles = _mm_and_si128(_mm_srli_epi16(bytes, 4), _mm_set1_epi8(0x0F));
        const __m128i nibbles = _mm_unpacklo_epi8(high_nibbles, low_nibbles);
        const __m128i letters =
            _mm_and_si128(_mm_cmpgt_epi8(nibbles, _mm_set1_epi8(9)), _mm_set1_epi8('A' - '9' - 1));
        const __m128i digits = _mm_add_epi8(_mm_add_epi8(nibbles, _mm_set1_epi8('0')), letters);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), digits);
#else
        std::uint64_t rest = bits;
        for (int i = 0; i < 8; ++i, rest >>= 8) put_byte(p + 2 * i, rest & 0xFF);
#endif
    }
    void ordinates(const double* values, int n) {
        for (int i = 0; i < n; ++i) ordinate(values[i]);
    }
    void empty_ordinates(int n) {
        for (int i = 0; i < n; ++i) out_.append("000000000000F87F", 16);
    }
    void zero_count() {
        out_.append(8, '0');
    }
    // Returns the byte offset (half the digit offset) of a zero count.
    std::size_t count_placeholder() {
        const std::size_t at = out_.size() / 2;
        out_.append(8, '0');
        return at;
    }
    void patch_count(std::size_t at, std::uint32_t count) {
        put_u32(out_.data() + 2 * at, count);
    }

private:
    // The two digits of every byte value, high nibble first.
    static constexpr auto DIGIT_PAIRS = [] {
        constexpr char digits[] = "0123456789ABCDEF";
        std::array<char, 512> pairs{};
        for (std::size_t i = 0; i < 256; ++i) {
            pairs[2 * i] = digits[i >> 4];
            pairs[2 * i + 1] = digits[i & 0xF];
        }
        return pairs;
    }();

    static void put_byte(char* p, std::uint64_t byte) noexcept {
        std::memcpy(p, DIGIT_PAIRS.data() + 2 * byte, 2);
    }
    // Little endian: lowest byte first.
    static void put_u32(char* p, std::uint32_t v) noexcept {
        for (int i = 0; i < 4; ++i, v >>= 8) put_byte(p + 2 * i, v & 0xFF);
    }

    OutputBuffer& out_;
};

// One walk of the WKT grammar that writes EWKB into a sink as it reads.
template <class Sink>
class EwkbWalker {
public:
    EwkbWalker(WktTokenizer& tokenizer, Sink& sink) noexcept : t_(tokenizer), out_(sink) {}

    Result<GeometryTag> write_geometry(bool embed_srid, std::int32_t srid, int depth) {
        if (depth >= MAX_NESTING_DEPTH) return nesting_too_deep();
        auto header = t_.read_geometry_header();
        if (!header) return std::move(header).error();
        const GeometryTag tag = *header;
        const std::uint32_t type_word = kind_code(tag.kind) | dimension_flags(tag.dimension);
        if (embed_srid) {
            out_.header_with_srid(type_word | SRID_FLAG, srid);
        } else {
            out_.header(type_word);
        }
        if (tag.kind == GeometryKind::GeometryCollection) {
            QUORVEL_TRY(collection_body(tag.dimension, depth));
        } else {
            QUORVEL_TRY(body(tag));
        }
        return tag;
    }

private:
    static ConversionError too_many(const char* noun) {
        return ConversionError::invalid_wkt(std::string("too many ") + noun);
    }

    static ConversionError nesting_too_deep() {
        return ConversionError::invalid_wkt("geometry nesting exceeds maximum depth of 128");
    }

    // The body of any kind but GeometryCollection, EMPTY included.
    Status body(GeometryTag tag) {
        const int n = ordinate_count(tag.dimension);
        const std::uint32_t flags = dimension_flags(tag.dimension);
        auto start = t_.expect_empty_or_open();
        if (!start) return std::move(start).error();
        if (*start == MemberStart::Empty) {
            if (tag.kind == GeometryKind::Point) {
                out_.empty_ordinates(n);
            } else {
                out_.zero_count();
            }
            return ok_status();
        }
        switch (tag.kind) {
            case GeometryKind::Point:
                QUORVEL_TRY(ordinates(n));
                return t_.expect_close();
            case GeometryKind::LineString:
                return counted_coordinate_list(n);
            case GeometryKind::Polygon:
                return counted_ring_list(n);
            case GeometryKind::MultiPoint:
                return multi_point_members(n, flags);
            case GeometryKind::MultiLineString:
                return multi_members(GeometryKind::LineString, n, flags);
            default:
                return multi_members(GeometryKind::Polygon, n, flags);
        }
    }

    // The body of a collection at `depth` whose header has been written, members of
    // members included.  A table of the open collections stands in for recursion,
    // so the stack it uses does not grow with the nesting.
    Status collection_body(Dimension dimension, int depth) {
        // The open collections, outermost first: the last is at depth + levels - 1.
        OpenCollection collections[MAX_NESTING_DEPTH];
        int levels = 0;
        // The geometry just written, of `dimension`, is a collection whose body
        // comes next.
        bool collection = true;

        for (;;) {
            bool complete = true;  // the geometry just written needs nothing more
            if (collection) {
                auto start = t_.expect_empty_or_open();
                if (!start) return std::move(start).error();
                if (*start == MemberStart::Empty) {
                    out_.zero_count();
                } else {
                    collections[levels++] = OpenCollection{out_.count_placeholder(), 0, dimension};
                    complete = false;
                }
            }
            if (complete) {
                // Nor does every collection whose last member it was.
                for (; levels != 0; --levels) {
                    OpenCollection& parent = collections[levels - 1];
                    // A tagged collection takes only members of its own dimension,
                    // an untagged one any.
                    if (parent.dimension != Dimension::XY && dimension != parent.dimension) {
                        return ConversionError::invalid_wkt(
                            collection_member_message(parent.dimension, dimension));
                    }
                    auto more = end_member(parent);
                    if (!more) return std::move(more).error();
                    if (*more) break;
                    dimension = parent.dimension;
                }
                if (levels == 0) return ok_status();
            }
            // The next member of the innermost open collection, without an SRID.
            if (depth + levels >= MAX_NESTING_DEPTH) return nesting_too_deep();
            auto header = t_.read_geometry_header();
            if (!header) return std::move(header).error();
            const GeometryTag member = *header;
            out_.header(kind_code(member.kind) | dimension_flags(member.dimension));
            dimension = member.dimension;
            collection = member.kind == GeometryKind::GeometryCollection;
            if (!collection) QUORVEL_TRY(body(member));
        }
    }

    Status ordinates(int n) {
        double values[4];
        const int read = t_.read_finite_numbers(values, n);
        for (int i = 0; i < read; ++i) out_.ordinate(values[i]);
        if (read != n) [[unlikely]] {
            // The next number is not a finite one: read_number says why.
            auto checked = t_.read_number();
            if (!checked) return std::move(checked).error();
            out_.ordinate(*checked);
            return ordinates(n - read - 1);
        }
        return ok_status();
    }

    // The elements of a list up to and including its closing ')', each written by
    // `element`, behind a count placeholder that is patched when the list ends.
    template <class Element>
    Status counted_list(const char* noun, Element&& element) {
        const std::size_t at = out_.count_placeholder();
        std::uint32_t count = 0;
        for (;;) {
            QUORVEL_TRY(element());
            auto more = count_and_separate(count, noun);
            if (!more) return std::move(more).error();
            if (!*more) break;
        }
        out_.patch_count(at, count);
        return ok_status();
    }

    // After an element of a counted list: the count rule, then its separator.  True
    // after ',', false after the closing ')'.
    Result<bool> count_and_separate(std::uint32_t& count, const char* noun) {
        if (count == MAX_LIST_LENGTH) return too_many(noun);
        ++count;
        return t_.expect_comma_or_close();
    }

    // A collection whose members are being written.
    struct OpenCollection {
        std::size_t count_at;  // of its count placeholder
        std::uint32_t count;   // members written
        Dimension dimension;
    };

    // After each member: counts it and reads its separator.  True after ',', false
    // after the closing ')', when the count is patched.
    Result<bool> end_member(OpenCollection& collection) {
        if (collection.count == MAX_LIST_LENGTH) return too_many("GeometryCollection members");
        ++collection.count;
        auto more = t_.expect_comma_or_close();
        if (more && !*more) out_.patch_count(collection.count_at, collection.count);
        return more;
    }

    // Runs of tuples at a time, and one tuple the long way where a run stops short:
    // it then fails, or the count is at its limit.
    Status counted_coordinate_list(int n) {
        const std::size_t at = out_.count_placeholder();
        std::uint32_t count = 0;
        double values[RUN_TUPLES * 4];
        for (;;) {
            const auto limit =
                static_cast<int>(std::min<std::uint32_t>(RUN_TUPLES, MAX_LIST_LENGTH - count));
            bool closed = false;
            const int tuples = t_.read_coordinate_run(values, n, limit, closed);
            out_.ordinates(values, tuples * n);
            count += static_cast<std::uint32_t>(tuples);
            if (closed) break;
            if (tuples == limit && limit != 0) continue;
            QUORVEL_TRY(ordinates(n));
            auto more = count_and_separate(count, "coordinate tuples");
            if (!more) return std::move(more).error();
            if (!*more) break;
        }
        out_.patch_count(at, count);
        return ok_status();
    }

    // A ring is never EMPTY.
    Status counted_ring_list(int n) {
        return counted_list("polygon rings", [&]() -> Status {
            QUORVEL_TRY(t_.expect_open());
            return counted_coordinate_list(n);
        });
    }

    // Points written as "(x y)", bare "x y" or EMPTY, mixed freely.
    Status multi_point_members(int n, std::uint32_t flags) {
        return counted_list("MultiPoint members", [&]() -> Status {
            out_.header(kind_code(GeometryKind::Point) | flags);
            auto start = t_.read_member_start();
            if (!start) return std::move(start).error();
            switch (*start) {
                case MemberStart::Empty:
                    out_.empty_ordinates(n);
                    return ok_status();
                case MemberStart::Open:
                    QUORVEL_TRY(ordinates(n));
                    return t_.expect_close();
                case MemberStart::Bare:
                    break;
            }
            return ordinates(n);
        });
    }

    // Line strings or polygons without keywords, in the parent's dimension.
    Status multi_members(GeometryKind member, int n, std::uint32_t flags) {
        const bool polygons = member == GeometryKind::Polygon;
        const char* noun = polygons ? "MultiPolygon members" : "MultiLineString members";
        return counted_list(noun, [&]() -> Status {
            out_.header(kind_code(member) | flags);
            auto start = t_.expect_empty_or_open();
            if (!start) return std::move(start).error();
            if (*start == MemberStart::Empty) {
                out_.zero_count();
                return ok_status();
            }
            return polygons ? counted_ring_list(n) : counted_coordinate_list(n);
        });
    }

    WktTokenizer& t_;
    Sink& out_;
};

template <class Sink>
Status write_all(WktTokenizer& tokenizer, std::size_t input_length, bool embed_srid,
                 std::int32_t srid, OutputBuffer& out) {
    Sink sink(out, input_length);
    EwkbWalker<Sink> walker(tokenizer, sink);
    QUORVEL_TRY(walker.write_geometry(embed_srid, srid, 0));
    return tokenizer.expect_end();
}

}  // namespace

Status write_ewkb(WktTokenizer& tokenizer, std::size_t input_length, bool embed_srid,
                  std::int32_t srid, OutputBuffer& out) {
    return write_all<BinarySink>(tokenizer, input_length, embed_srid, srid, out);
}

Status write_ewkb_hex(WktTokenizer& tokenizer, std::size_t input_length, bool embed_srid,
                      std::int32_t srid, OutputBuffer& out) {
    return write_all<HexSink>(tokenizer, input_length, embed_srid, srid, out);
}

Result<SridPrefix> write_ewkb_split_srid(std::string_view text, OutputBuffer& out) {
    WktTokenizer tokenizer(text);
    auto prefix = tokenizer.parse_srid_prefix();
    if (!prefix) return std::move(prefix).error();
    QUORVEL_TRY(write_ewkb(tokenizer, text.size(), false, 0, out));
    return prefix;
}

Result<std::string> write_ewkb(WktTokenizer& tokenizer, std::size_t input_length, bool embed_srid,
                               std::int32_t srid) {
    OutputBuffer out;
    QUORVEL_TRY(write_ewkb(tokenizer, input_length, embed_srid, srid, out));
    return out.str();
}

Result<std::string> write_ewkb_hex(WktTokenizer& tokenizer, std::size_t input_length,
                                   bool embed_srid, std::int32_t srid) {
    OutputBuffer out;
    QUORVEL_TRY(write_ewkb_hex(tokenizer, input_length, embed_srid, srid, out));
    return out.str();
}

Result<EwkbAndPrefix> write_ewkb_split_srid(std::string_view text) {
    OutputBuffer out;
    auto prefix = write_ewkb_split_srid(text, out);
    if (!prefix) return std::move(prefix).error();
    return EwkbAndPrefix{out.str(), *prefix};
}

}  // namespace quorvel
