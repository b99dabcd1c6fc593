// Runs the conformance table (tests/data/conformance.tsv, made from the module on
// x86-64 by tools/gen_conformance.py) through the core alone and compares every
// result byte and every error text with the table's.  Each module function is
// rebuilt here from the same core calls that its Python wrapper makes, so that any
// machine the core runs on is held to the module's results.
//
//   conformance TABLE [MUTATIONS]
//
// Prints the first 20 mismatches and the count of cases; exits 1 on any mismatch.
// With MUTATIONS, each case's input is also changed that many times at random (a
// fixed seed: bytes replaced, inserted, removed, cut off, repeated) and run through
// the same call; the program prints a digest of every such result, which must be the
// same on every machine (tools/test-cross.sh compares them).  QUORVEL_DUMP=1 also
// prints each mutated call's input and result, to find where two machines differ.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "lib/error.hpp"
#include "lib/header.hpp"
#include "lib/hex.hpp"
#include "lib/output_buffer.hpp"
#include "lib/srid_policy.hpp"
#include "lib/steps.hpp"
#include "lib/text.hpp"
#include "wkb_to_wkt/builder.hpp"
#include "wkt_to_wkb/writer.hpp"

namespace {

using namespace quorvel;

// A value of the table: a str, bytes, an int, None, or the text of a ValueError.
struct Value {
    char type = 'n';  // 's', 'b', 'i', 'n', 'e'
    std::string bytes;
    long long number = 0;
    friend bool operator==(const Value&, const Value&) = default;
};

struct Outcome {
    Value result;
    Value second;  // the second item of a tuple; type '-' for other results
};

// Hex of the table's own, so that the codec under test never reads its test data.
std::string from_hex(std::string_view text) {
    const auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    std::string out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        out.push_back(static_cast<char>(nibble(text[i]) << 4 | nibble(text[i + 1])));
    }
    return out;
}

std::string to_hex(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        out += "0123456789ABCDEF"[static_cast<unsigned char>(c) >> 4];
        out += "0123456789ABCDEF"[c & 0xF];
    }
    return out;
}

Value parse_value(const std::string& field) {
    if (field == "n") return {};
    if (field == "-") return {'-', {}, 0};
    const std::size_t colon = field.find(':');
    const std::string tag = field.substr(0, colon);
    const std::string payload = colon == std::string::npos ? "" : field.substr(colon + 1);
    if (tag == "i") return {'i', {}, std::strtoll(payload.c_str(), nullptr, 10)};
    if (tag == "b" || tag == "sx" || tag == "ex") return {tag[0], from_hex(payload), 0};
    return {tag[0], payload, 0};  // "s", "e"
}

std::string show(const Value& v) {
    switch (v.type) {
        case 'i':
            return "int " + std::to_string(v.number);
        case 'n':
            return "None";
        case '-':
            return "-";
        case 'b':
            return "bytes " + to_hex(v.bytes);
        default:
            return (v.type == 'e' ? "error " : "str ") + v.bytes;
    }
}

Value text(std::string_view s) {
    return {'s', std::string(s), 0};
}
Value bytes(std::string_view s) {
    return {'b', std::string(s), 0};
}
Value error(const ConversionError& e) {
    return {'e', e.text(), 0};
}
Value int_or_none(bool present, std::int32_t srid) {
    return present ? Value{'i', {}, srid} : Value{};
}
Outcome single(Value v) {
    return {std::move(v), {'-', {}, 0}};
}

// The output of a step as a str or bytes, or its error.
Outcome step_result(const Status& status, const OutputBuffer& out, char type) {
    if (!status) return single(error(status.error()));
    return single({type, out.str(), 0});
}
Outcome string_result(const Result<std::string>& r, char type) {
    if (!r) return single(error(r.error()));
    return single({type, *r, 0});
}

// The arguments of a row: srid (absent is Mirror), normalize_wkt, include_unknown.
struct Arguments {
    SridPolicy srid = SridPolicy::mirror();
    bool normalize_wkt = false;
    bool include_unknown = false;
};

Arguments parse_arguments(const std::string& field) {
    Arguments a;
    if (field == "-") return a;
    std::size_t start = 0;
    while (start <= field.size()) {
        std::size_t end = field.find(' ', start);
        if (end == std::string::npos) end = field.size();
        const std::string item = field.substr(start, end - start);
        const std::size_t eq = item.find('=');
        const std::string name = item.substr(0, eq), value = item.substr(eq + 1);
        if (name == "srid") {
            a.srid = value == "False" ? SridPolicy::strip()
                                      : SridPolicy::set(static_cast<std::int32_t>(
                                            std::strtol(value.c_str(), nullptr, 10)));
        } else if (name == "normalize_wkt") {
            a.normalize_wkt = value == "True";
        } else if (name == "include_unknown") {
            a.include_unknown = value == "True";
        }
        start = end + 1;
    }
    return a;
}

// The header rewrite of bytes-like input: a new header and a span of the input.
Outcome patched_bytes(std::string_view data, SridPolicy policy) {
    auto plan = plan_header_srid(data, policy);
    if (!plan) return single(error(plan.error()));
    std::string out(plan->size(data), '\0');
    plan->write(out.data(), data);
    return single(bytes(out));
}

// to_ewkb_header and to_wkb_no_srid_header: hex str in and out, bytes otherwise.
Outcome rewrite_header(std::string_view data, bool is_text, SridPolicy policy) {
    if (!is_text) return patched_bytes(data, policy);
    auto wkb = decode_hex(data);
    if (!wkb) return single(error(wkb.error()));
    auto rewritten = rewrite_header_srid(*wkb, policy);
    if (!rewritten) return single(error(rewritten.error()));
    return single(text(encode_hex_upper(*rewritten)));
}

// One module function over the core, as its wrapper runs it, on data that ends
// where its allocation ends: a read one byte past it, which a std::string's
// terminator would hide, is a fault under AddressSanitizer.
Outcome call_on(const std::string& function, const Arguments& a, std::string_view data,
                bool is_text) {
    const SridPolicy policy = a.srid.effective();
    OutputBuffer out;
    if (function == "wkb_to_wkt") return step_result(wkb_to_wkt_step(data, a.srid, out), out, 's');
    if (function == "wkt_to_wkb") return step_result(wkt_to_ewkb_step(data, a.srid, out), out, 'b');
    if (function == "wkt_to_hex_wkb") {
        return step_result(wkt_to_ewkb_hex_step(data, a.srid, out), out, 's');
    }
    if (function == "wkb_to_wkt_split_srid") {
        auto r = ewkb_to_wkt_and_srid(data, out);
        if (!r) return single(error(r.error()));
        return {text(out.view()), int_or_none(r->present, r->srid)};
    }
    if (function == "wkt_to_wkb_split_srid") {
        auto r = write_ewkb_split_srid(data, out);
        if (!r) return single(error(r.error()));
        return {bytes(out.view()), int_or_none(r->present, r->srid)};
    }
    if (function == "hex_wkb_to_wkt") {
        auto wkb = decode_hex(data);
        if (!wkb) return single(error(wkb.error()));
        return step_result(wkb_to_wkt_step(*wkb, a.srid, out), out, 's');
    }
    if (function == "to_wkb") {
        if (!is_text) return patched_bytes(data, policy);
        const std::string_view trimmed = trim_whitespace(data);
        if (auto wkb = try_decode_hex(trimmed)) {
            if (policy.is_mirror()) return single(bytes(*wkb));
            return string_result(rewrite_header_srid(*wkb, policy), 'b');
        }
        return step_result(wkt_to_ewkb_step(trimmed, policy, out), out, 'b');
    }
    if (function == "to_wkt") {
        if (!is_text) return step_result(wkb_to_wkt_step(data, policy, out), out, 's');
        const std::string_view trimmed = trim_whitespace(data);
        if (trimmed.empty()) return single(error(ConversionError::invalid_wkt("empty input")));
        if (is_hex_digit(trimmed[0])) {
            if (auto wkb = try_decode_hex(trimmed)) {
                return step_result(wkb_to_wkt_step(*wkb, policy, out), out, 's');
            }
        }
        if (a.normalize_wkt) return step_result(normalize_wkt_step(trimmed, policy, out), out, 's');
        return single(text(wkt_fast_path(trimmed, policy)));
    }
    if (function == "to_hex_wkb") {
        if (!is_text) return string_result(rewrite_header_srid_hex(data, policy), 's');
        const std::string_view trimmed = trim_whitespace(data);
        if (policy.is_mirror()) {
            if (auto upper = normalize_hex(trimmed)) return single(text(*upper));
        } else if (auto wkb = try_decode_hex(trimmed)) {
            return string_result(rewrite_header_srid_hex(*wkb, policy), 's');
        }
        return step_result(wkt_to_ewkb_hex_step(trimmed, policy, out), out, 's');
    }
    if (function == "wkb_header_srid") {
        std::string decoded;
        if (is_text) {
            auto wkb = decode_hex(data);
            if (!wkb) return single(error(wkb.error()));
            decoded = std::move(*wkb);
        }
        auto r = read_header_srid(is_text ? std::string_view(decoded) : data, a.include_unknown);
        if (!r) return single(error(r.error()));
        return single(int_or_none(r->present, r->srid));
    }
    if (function == "to_wkb_no_srid_header") {
        return rewrite_header(data, is_text, SridPolicy::strip());
    }
    if (function == "to_ewkb_header") return rewrite_header(data, is_text, policy);
    std::fprintf(stderr, "conformance: unknown function %s\n", function.c_str());
    std::exit(2);
}

Outcome call(const std::string& function, const Arguments& a, const Value& source) {
    const std::size_t n = source.bytes.size();
    const std::unique_ptr<char[]> exact(new char[n]);
    std::memcpy(exact.get(), source.bytes.data(), n);
    return call_on(function, a, std::string_view(exact.get(), n), source.type == 's');
}

// FNV-1a over the results of the mutated calls.
class Digest {
public:
    void add(std::string_view bytes) {
        for (const char c : bytes) {
            hash_ = (hash_ ^ static_cast<unsigned char>(c)) * 0x100000001B3u;
        }
        add_separator();
    }
    void add(const Value& v) {
        add(std::string_view(&v.type, 1));
        add(v.type == 'i' ? std::to_string(v.number) : v.bytes);
    }
    std::uint64_t value() const noexcept { return hash_; }

private:
    void add_separator() { hash_ = (hash_ ^ 0x1Fu) * 0x100000001B3u; }
    std::uint64_t hash_ = 0xCBF29CE484222325u;
};

// One random change of the input: the generator's raw output only (its sequence is
// fixed by the standard), so every machine draws the same changes.
std::string mutate(std::string s, std::mt19937_64& rng) {
    const auto below = [&rng](std::size_t n) { return n == 0 ? 0 : rng() % n; };
    const char byte = static_cast<char>(rng() & 0xFF);
    switch (rng() % 5) {
        case 0:
            if (!s.empty()) s[below(s.size())] = byte;
            break;
        case 1:
            s.insert(s.begin() + static_cast<std::ptrdiff_t>(below(s.size() + 1)), byte);
            break;
        case 2:
            if (!s.empty()) {
                const std::size_t at = below(s.size());  // drawn before the length
                s.erase(at, 1 + below(4));
            }
            break;
        case 3:
            s.resize(below(s.size() + 1));
            break;
        default: {
            const std::size_t at = below(s.size() + 1);
            s.insert(at, s.substr(at, 1 + below(16)));
            break;
        }
    }
    return s;
}

std::vector<std::string> split_tabs(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
        fields.push_back(line.substr(start, tab - start));
    }
    fields.push_back(line.substr(start));
    return fields;
}

std::string cut(std::string s) {
    return s.size() <= 200 ? s : s.substr(0, 200) + "...";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: conformance TABLE [MUTATIONS]\n");
        return 2;
    }
    const long mutations = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 0;
    const bool dump = std::getenv("QUORVEL_DUMP") != nullptr;
    std::mt19937_64 rng(16);
    Digest digest;
    std::ifstream in(argv[1]);
    if (!in) {
        std::fprintf(stderr, "conformance: cannot read %s\n", argv[1]);
        return 2;
    }
    long cases = 0, mismatches = 0, number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (line.empty() || line[0] == '#') continue;
        const std::vector<std::string> f = split_tabs(line);
        if (f.size() != 5) {
            std::fprintf(stderr, "conformance: line %ld has %zu fields, not 5\n", number, f.size());
            return 2;
        }
        ++cases;
        const Arguments arguments = parse_arguments(f[1]);
        const Value source = parse_value(f[2]);
        for (long i = 0; i < mutations; ++i) {
            const Value changed{source.type, mutate(source.bytes, rng), 0};
            const Outcome r = call(f[0], arguments, changed);
            digest.add(r.result);
            digest.add(r.second);
            if (dump) {
                std::printf("%ld %s %s -> %s | %s\n", number, f[0].c_str(),
                            to_hex(changed.bytes).c_str(), show(r.result).c_str(),
                            show(r.second).c_str());
            }
        }
        const Outcome got = call(f[0], arguments, source);
        const Value result = parse_value(f[3]), second = parse_value(f[4]);
        if (got.result == result && got.second == second) continue;
        if (++mismatches <= 20) {
            std::printf("MISMATCH line %ld: %s(%s, %s)\n  expected %s | %s\n  got      %s | %s\n",
                        number, f[0].c_str(), cut(f[2]).c_str(), f[1].c_str(),
                        cut(show(result)).c_str(), show(second).c_str(),
                        cut(show(got.result)).c_str(), show(got.second).c_str());
        }
    }
    std::printf("conformance: %ld passed, %ld failed", cases - mismatches, mismatches);
    if (mutations > 0) {
        std::printf("; %ld mutated calls, digest %016llx", cases * mutations,
                    static_cast<unsigned long long>(digest.value()));
    }
    std::printf("\n");
    return mismatches == 0 && cases > 0 ? 0 : 1;
}
