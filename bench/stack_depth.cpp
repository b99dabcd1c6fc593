// Stack used by each conversion against the GeometryCollection nesting of its input.
// The conversion runs on a thread whose stack is a buffer filled with a pattern;
// afterwards the lowest byte that no longer holds the pattern marks the deepest
// frame.  The figures are the bytes below the top of that buffer (the thread's own
// bookkeeping at the top included), so only their differences matter.
//
//   stack_depth        one line per conversion: the stack at 1, 64, 128 and 129
//                      levels (the last is the refusal) and the bytes per level
//                      between 64 and 128
//
// POSIX threads only; the module itself does not depend on them.
#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "lib/header.hpp"
#include "lib/hex.hpp"
#include "lib/output_buffer.hpp"
#include "lib/srid_policy.hpp"
#include "lib/steps.hpp"
#include "wkb_to_wkt/builder.hpp"

namespace {

constexpr std::size_t STACK_SIZE = 1u << 20;
constexpr unsigned char PATTERN = 0xA5;

std::string nested_wkb(int levels) {
    const std::string collection("\x01\x07\x00\x00\x00", 5);
    std::string one("\x01\x00\x00\x00", 4), none(4, '\0');
    std::string out;
    for (int i = 1; i < levels; ++i) out += collection + one;
    return out + collection + none;
}

std::string nested_wkt(int levels) {
    std::string out;
    for (int i = 1; i < levels; ++i) out += "GEOMETRYCOLLECTION (";
    out += "GEOMETRYCOLLECTION EMPTY";
    return out + std::string(static_cast<std::size_t>(levels - 1), ')');
}

struct Case {
    const char* name;
    bool from_wkt;
    // The outcome: true for a result, false for an error.
    bool (*run)(const std::string& input);
};

// A step of the module's pipelines under the Mirror policy.
template <quorvel::Status (*Step)(std::string_view, quorvel::SridPolicy, quorvel::OutputBuffer&)>
bool step(const std::string& in) {
    quorvel::OutputBuffer out;
    return Step(in, quorvel::SridPolicy::mirror(), out).ok();
}

bool hex_wkb_to_wkt(const std::string& in) {
    auto wkb = quorvel::decode_hex(quorvel::encode_hex_upper(in));
    return wkb && step<quorvel::wkb_to_wkt_step>(*wkb);
}

bool split_srid(const std::string& in) {
    return quorvel::ewkb_to_wkt_and_srid(in).ok();
}

bool full_rewrite(const std::string& in) {
    return quorvel::rewrite_header_srid(in, quorvel::SridPolicy::set(4326)).ok();
}

const Case CASES[] = {
    {"wkb_to_wkt", false, step<quorvel::wkb_to_wkt_step>},
    {"hex_wkb_to_wkt", false, hex_wkb_to_wkt},
    {"wkb_to_wkt_split_srid", false, split_srid},
    {"wkt_to_wkb", true, step<quorvel::wkt_to_ewkb_step>},
    {"wkt_to_hex_wkb", true, step<quorvel::wkt_to_ewkb_hex_step>},
    {"to_wkt normalize_wkt", true, step<quorvel::normalize_wkt_step>},
    {"to_ewkb_header", false, full_rewrite},
};

struct Job {
    const Case* c;
    const std::string* input;
    bool outcome;
};

void* run_job(void* arg) {
    auto* job = static_cast<Job*>(arg);
    job->outcome = job->c->run(*job->input);
    return nullptr;
}

// Bytes of stack below the top that the case touched, or 0 when the thread failed.
std::size_t measure(const Case& c, const std::string& input, bool& outcome) {
    void* stack = std::aligned_alloc(4096, STACK_SIZE);
    if (stack == nullptr) return 0;
    std::memset(stack, PATTERN, STACK_SIZE);
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstack(&attr, stack, STACK_SIZE);
    Job job{&c, &input, false};
    pthread_t thread;
    std::size_t used = 0;
    if (pthread_create(&thread, &attr, run_job, &job) == 0) {
        pthread_join(thread, nullptr);
        const auto* bytes = static_cast<const unsigned char*>(stack);
        std::size_t low = 0;
        while (low < STACK_SIZE && bytes[low] == PATTERN) ++low;
        used = STACK_SIZE - low;
    }
    pthread_attr_destroy(&attr);
    std::free(stack);
    outcome = job.outcome;
    return used;
}

}  // namespace

int main() {
    const int levels[] = {1, 64, 128, 129};
    std::printf("%-22s %8s %8s %8s %8s %10s\n", "conversion", "1", "64", "128", "129", "per level");
    for (const Case& c : CASES) {
        std::size_t used[4];
        bool outcomes[4];
        // A first run binds the library functions that the case calls: lazy binding
        // goes deeper than the calls themselves.
        measure(c, c.from_wkt ? nested_wkt(128) : nested_wkb(128), outcomes[0]);
        for (int i = 0; i < 4; ++i) {
            const std::string input = c.from_wkt ? nested_wkt(levels[i]) : nested_wkb(levels[i]);
            used[i] = measure(c, input, outcomes[i]);
        }
        // 128 levels convert, 129 are refused.
        if (!outcomes[0] || !outcomes[2] || outcomes[3]) {
            std::fprintf(stderr, "stack_depth: %s: unexpected outcome\n", c.name);
            return 1;
        }
        std::printf("%-22s %8zu %8zu %8zu %8zu %10.1f\n", c.name, used[0], used[1], used[2],
                    used[3], (static_cast<double>(used[2]) - static_cast<double>(used[1])) / 64.0);
    }
    return 0;
}
