#!/usr/bin/env python3
"""Mutation testing of the C++ sources: how many small faults the tests catch.

Usage (from the repository root, with the project's virtual environment):

    python tools/mutation.py run [--sample N] [--seed S] [--file PATTERN] [--id ID]
                                 [--skip-listed]
    python tools/mutation.py report      # the last run's report again, from the cache
    python tools/mutation.py list [--file PATTERN]
    python tools/mutation.py show ID
    python tools/mutation.py prove [--changed] [--file PATTERN] [--id ID]

Each mutant is one change of one source line (see OPERATORS): a comparison moved by
one (< to <=), negated (== to !=), && and || swapped, an arithmetic, bit or shift
operator swapped, an integer constant off by one, true and false swapped, the two
results of a ?: swapped, an error return removed (QUORVEL_TRY dropped, the
condition of an `if` that returns an error made false), the byte order of a load
or store inverted, a byte swap dropped, an unsigned char read as signed, or a
simple statement deleted.

A mutant is applied to a copy of the sources (build/mutation/tree, synchronised
with the working tree at the start of a run), built incrementally in a persistent
CMake build directory per build of tools/mutation.toml, and judged:

- build failure: it does not compile (counted apart, never as killed);
- unchanged: every build made the same module, byte for byte, as the unmutated
  sources (the code is not compiled, or the compiler proved the change has no
  effect): equivalent by construction;
- killed: the tests failed, crashed or timed out, or a verification program of
  tools/mutation.toml failed on it;
- equivalent: it survived, tools/mutation-equivalent.toml lists it with the reason
  why no test can tell it apart, and its proof holds (below);
- survived: a test gap, or a listed mutant whose proof fails.

The proof of an equivalent (`prove`, and in a run the proof of each listed survivor):
the mutant and the unmutated sources are built under AddressSanitizer and UBSan, every
finding fatal, in each build of the configuration, and the differential corpus of
tools/mutation_corpus.py (some 50,000 calls of every function) runs through both; any
difference of an output, sanitizer report, crash or time-out makes the entry wrong.
A [[function]] entry is proven with a trap at the start of the function.  `prove`
writes into each entry that holds a stamp: a hash of the entry and of the text of the
top-level definition around its line; `prove --changed` proves only the entries whose
stamp no longer matches (an edit of their code since), which is what CI runs.
The corpus makes the interpreter's allocations fail for the argument forms; a
difference that only a failing C++ allocation shows is outside it: such a mutant is
not equivalent and needs a test (tests/test_allocation_failure.py), not an entry.

Results are cached per mutant in build/mutation/results-FINGERPRINT.jsonl (or under
MUTATION_WORK), the fingerprint being a hash of the build inputs (CMakeLists.txt,
src/, stubs/, verify/) and of the builds and verification programs of the
configuration: an interrupted run continues where it stopped, a change of those
starts afresh, and a change of the tests judges the survivors again.  The report
goes to standard output and build/mutation/report.txt.

A mutant is known by its file, the text of its line before and after the change, and
which of the identical lines of the file it is on (usually the only one): never by
its line number, so the list of equivalent mutants survives edits elsewhere; a
[[function]] entry of the list covers every mutant of a function the module never
calls.  The tool reports entries of that list that match no mutant any more (stale)
and listed mutants that the tests now kill.  With --skip-listed, listed mutants are
taken as equivalent without being built or tested (nothing is cached for them): a
run that only asks whether every mutant is killed or listed, as CI's sample does,
spends no time on the surviving ones it already knows.
"""

from __future__ import annotations

import argparse
import dataclasses
import datetime
import fcntl
import fnmatch
import hashlib
import json
import os
import pathlib
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import tomllib

ROOT = pathlib.Path(__file__).resolve().parent.parent
# Everything a run keeps: the tree, the build directories, the results, the report.
WORK = pathlib.Path(os.environ.get("MUTATION_WORK") or ROOT / "build" / "mutation")
TREE = WORK / "tree"
CONFIG = ROOT / "tools" / "mutation.toml"
EQUIVALENT = ROOT / "tools" / "mutation-equivalent.toml"
# What a build needs besides src/: copied into the tree.
TREE_FILES = ["CMakeLists.txt", "src", "stubs", "verify"]

KILLED, SURVIVED, UNCHANGED, BUILD_FAILURE = "killed", "survived", "unchanged", "build failure"


# --- mutants ---


@dataclasses.dataclass(frozen=True)
class Mutant:
    file: str  # relative to the root
    line_no: int  # 1-based, for display only
    nth: int  # which of the identical lines of the file (1-based)
    operator: str
    original: str  # the whole line, without its newline
    mutated: str

    @property
    def id(self) -> str:
        key = "\0".join([self.file, self.original.strip(), self.mutated.strip(), str(self.nth)])
        return hashlib.sha1(key.encode()).hexdigest()[:10]


def mask(lines: list[str]) -> list[str | None]:
    """The lines with string and character literals and comments blanked (same length),
    or None for a line that is not mutated (preprocessor directives, static_assert)."""
    out: list[str | None] = []
    in_comment = False
    for line in lines:
        chars = list(line)
        i = 0
        while i < len(chars):
            c = chars[i]
            if in_comment:
                if line.startswith("*/", i):
                    chars[i] = chars[i + 1] = " "
                    in_comment = False
                    i += 2
                    continue
                chars[i] = " "
            elif line.startswith("//", i):
                chars[i:] = " " * (len(chars) - i)
                break
            elif line.startswith("/*", i):
                chars[i] = chars[i + 1] = " "
                in_comment = True
                i += 2
                continue
            elif c in "\"'":
                j = i + 1
                while j < len(line) and line[j] != c:
                    j += 2 if line[j] == "\\" else 1
                for k in range(i + 1, min(j, len(chars))):
                    chars[k] = "_"
                i = j
            i += 1
        text = "".join(chars)
        stripped = text.strip()
        skip = stripped.startswith("#") or stripped.startswith("static_assert")
        out.append(None if skip else text)
    return out


def simple(pattern: str, replacement: str) -> tuple[re.Pattern, str]:
    return re.compile(pattern), replacement


# Operators: name -> list of (pattern on the masked line, replacement of the match).
# Binary operators are matched with a space each side, as the formatter writes them,
# which keeps template brackets, pointers and references out.
OPERATORS: dict[str, list[tuple[re.Pattern, str]]] = {
    "boundary": [simple(r" < ", " <= "), simple(r" <= ", " < "), simple(r" > ", " >= "),
                 simple(r" >= ", " > ")],
    "negate": [simple(r" == ", " != "), simple(r" != ", " == ")],
    "logic": [simple(r" && (?!noexcept)", " || "), simple(r" \|\| ", " && ")],
    "not": [simple(r"!(?=[\w(*])", "")],
    "arith": [simple(r" \+ ", " - "), simple(r" - ", " + "), simple(r" \* ", " / "),
              simple(r" / ", " * "), simple(r" % ", " / ")],
    "bit": [simple(r" & (?!noexcept)", " | "), simple(r" \| ", " & "), simple(r" \^ ", " | "),
            simple(r" << ", " >> "), simple(r" >> ", " << "), simple(r"~(?=[\w(])", "")],
    "assign": [simple(r" \+= ", " -= "), simple(r" -= ", " += "), simple(r" \|= ", " &= "),
               simple(r" <<= ", " >>= "), simple(r" >>= ", " <<= ")],
    "incdec": [simple(r"\+\+", "--"), simple(r"--", "++")],
    "bool": [simple(r"\btrue\b", "false"), simple(r"\bfalse\b", "true")],
    "byteswap": [simple(r"\bbyteswap(32|64)(?=\()", ""),
                 simple(r"std::endian::little\b", "std::endian::big"),
                 simple(r"std::endian::big\b", "std::endian::little")],
    "signed_char": [simple(r"static_cast<unsigned char>", "static_cast<signed char>")],
}
INTEGER = re.compile(r"(?<![\w.])(0[xX][0-9a-fA-F]+|\d+)([uU]?[lL]{0,2}[uU]?)(?![\w.])")
TERNARY = re.compile(r"\? ([\w.:]+) : ([\w.:]+)(?=[;),]| [+\-*|&])")
TRY = re.compile(r"\bQUORVEL_TRY\((.*)\);")
IF = re.compile(r"\bif \(")
ERROR_RETURN = re.compile(r"\breturn\b.*([Ee]rror|nesting_too_deep|end_of_data|trailing_data|"
                          r"too_many|std::nullopt|\bfalse\b)")
BYTE_ORDER_CALL = re.compile(r"\b(load_u32|load_f64|store_u32|store_f64)\(")
STATEMENT = re.compile(r"^(\s*)((?:\+\+|--)?[A-Za-z_][\w.:\->\[\]]*(?:\(.*\))?(?:\+\+|--)?"
                       r"(?: (?:[-+*/|&^]|<<|>>)?= .*)?;)\s*$")
NOT_STATEMENTS = {"return", "break", "continue", "default", "public", "private", "goto"}


def closing_paren(text: str, open_at: int) -> int | None:
    depth = 0
    for i in range(open_at, len(text)):
        if text[i] == "(":
            depth += 1
        elif text[i] == ")":
            depth -= 1
            if depth == 0:
                return i
    return None


def line_mutations(masked: str, original: str, next_masked: str) -> list[tuple[str, int, int, str]]:
    """(operator, start, end, replacement) for every mutation of one line."""
    found: list[tuple[str, int, int, str]] = []
    for name, rules in OPERATORS.items():
        for pattern, replacement in rules:
            for m in pattern.finditer(masked):
                # + joins strings too: no arithmetic next to a string literal.
                if name == "arith" and (masked[m.start() - 1:m.start()] == '"'
                                        or masked[m.end():m.end() + 1] == '"'):
                    continue
                found.append((name, m.start(), m.end(), replacement))
    for m in INTEGER.finditer(masked):
        digits, suffix = m.group(1), m.group(2)
        value = int(digits, 16 if digits[:2].lower() == "0x" else 10)
        # One step up: a bound, a size or a shift one too large.
        text = (f"0x{value + 1:X}" if digits[:2].lower() == "0x" else str(value + 1)) + suffix
        found.append(("constant", m.start(), m.end(), text))
    for m in TERNARY.finditer(masked):
        a, b = original[m.start(1):m.end(1)], original[m.start(2):m.end(2)]
        found.append(("ternary", m.start(), m.end(), f"? {b} : {a}"))
    for m in TRY.finditer(masked):
        found.append(("error_return", m.start(), m.end(), f"(void)({original[m.start(1):m.end(1)]});"))
    for m in IF.finditer(masked):
        close = closing_paren(masked, m.end() - 1)
        if close is None:
            continue
        body = masked[close + 1:].strip() or next_masked.strip()
        if body == "{":
            body = next_masked.strip()
        if ERROR_RETURN.search(body):
            found.append(("error_return", m.end(), close, "false"))
    for m in BYTE_ORDER_CALL.finditer(masked):
        close = closing_paren(masked, m.end() - 1)
        comma = masked.rfind(", ", m.end(), close) if close is not None else -1
        if comma > 0 and closing_paren(masked[comma:close + 1], 0) is None:
            arg = original[comma + 2:close]
            found.append(("byte_order", comma + 2, close, f"!({arg})"))
    s = STATEMENT.match(masked)
    if s and re.match(r"[A-Za-z_+-]+", s.group(2)).group(0) not in NOT_STATEMENTS:
        found.append(("delete", s.start(2), s.end(2), ";"))
    return found


def mutants_of(path: str, text: str) -> list[Mutant]:
    lines = text.split("\n")
    masked = mask(lines)
    seen: dict[str, int] = {}
    result: list[Mutant] = []
    for i, (line, m) in enumerate(zip(lines, masked)):
        nth = seen[line.strip()] = seen.get(line.strip(), 0) + 1
        if m is None:
            continue
        following = next((x for x in masked[i + 1:] if x is not None and x.strip()), "") or ""
        done: set[str] = set()
        for operator, start, end, replacement in line_mutations(m, line, following):
            mutated = line[:start] + replacement + line[end:]
            if mutated == line or mutated in done:
                continue
            done.add(mutated)
            result.append(Mutant(path, i + 1, nth, operator, line, mutated))
    return result


def load_config() -> dict:
    with open(CONFIG, "rb") as f:
        return tomllib.load(f)


def matches(path: str, patterns: list[str]) -> bool:
    return any(fnmatch.fnmatchcase(path, p) for p in patterns)


def source_files(config: dict) -> list[str]:
    files = sorted(str(p.relative_to(ROOT)) for p in (ROOT / "src").rglob("*") if p.is_file())
    return [f for f in files if matches(f, config["sources"]) and not matches(f, config["exclude"])]


def all_mutants(config: dict) -> list[Mutant]:
    result: list[Mutant] = []
    for f in source_files(config):
        result.extend(mutants_of(f, (ROOT / f).read_text()))
    return result


def sample(mutants: list[Mutant], n: int, seed: int) -> list[Mutant]:
    """About n mutants drawn at random, in proportion to each file's count and, when
    n allows, at least two of every file (n below four a file: exactly n, drawn from
    all).  The draw ranks mutants by a hash of the seed and their id, so that a
    change of one file leaves the mutants drawn from the others as they were."""
    if n <= 0 or n >= len(mutants):
        return mutants

    def rank(m: Mutant) -> str:
        return hashlib.sha1(f"{seed}:{m.id}".encode()).hexdigest()

    by_file: dict[str, list[Mutant]] = {}
    for m in sorted(mutants, key=rank):
        by_file.setdefault(m.file, []).append(m)
    if n < 4 * len(by_file):
        chosen = sorted(mutants, key=rank)[:n]
    else:
        chosen = []
        for ms in by_file.values():
            chosen.extend(ms[:max(2, round(n * len(ms) / len(mutants)))])
    return sorted(chosen, key=lambda m: (m.file, m.line_no, m.mutated))


# --- the list of equivalent mutants ---


def load_equivalents() -> list[dict]:
    """The entries of the list: single mutants ([[equivalent]]) and functions every
    mutant of which is equivalent ([[function]]: code the module never runs)."""
    if not EQUIVALENT.exists():
        return []
    with open(EQUIVALENT, "rb") as f:
        data = tomllib.load(f)
    return data.get("equivalent", []) + [dict(e, whole=True) for e in data.get("function", [])]


def copies(m: Mutant) -> int:
    """How many lines of the mutant's file are the same as its line."""
    lines = (ROOT / m.file).read_text().split("\n")
    return sum(line.strip() == m.original.strip() for line in lines)


def function_lines(file: str, first: str) -> range:
    """The lines (1-based) of the function whose first line is `first`, up to the
    closing brace at the start of a line; empty when there is no such function."""
    lines = (ROOT / file).read_text().split("\n")
    for i, line in enumerate(lines):
        if line.strip() == first.strip():
            end = next((j for j in range(i + 1, len(lines)) if lines[j] == "}"), i)
            return range(i + 1, end + 2)
    return range(0)


def listed(m: Mutant, entry: dict) -> bool:
    if entry["file"] != m.file:
        return False
    if entry.get("whole"):
        return m.line_no in function_lines(m.file, entry["first"])
    return (entry["line"].strip() == m.original.strip()
            and entry["mutated"].strip() == m.mutated.strip() and entry.get("nth", m.nth) == m.nth)


# --- building and testing ---


def venv_python() -> str:
    return os.environ.get("MUTATION_PYTHON") or sys.executable


def tool_env() -> dict:
    env = dict(os.environ)
    env["PATH"] = f"{pathlib.Path(venv_python()).parent}{os.pathsep}{env.get('PATH', '')}"
    return env


def run(cmd: list[str], timeout: float | None = None, **kwargs) -> tuple[int | None, str, float]:
    """(exit status or None on timeout, output, seconds)."""
    start = time.monotonic()
    with subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          errors="replace", start_new_session=True, **kwargs) as p:
        try:
            out, _ = p.communicate(timeout=timeout)
            return p.returncode, out, time.monotonic() - start
        except subprocess.TimeoutExpired:
            os.killpg(p.pid, signal.SIGKILL)
            out, _ = p.communicate()
            return None, out, time.monotonic() - start
        except BaseException:  # interrupted: take the whole process group along
            os.killpg(p.pid, signal.SIGKILL)
            raise


def hold_lock():
    """The lock of WORK, held while the returned file stays open: one run or proof at a
    time, as they share the tree and the build directories."""
    WORK.mkdir(parents=True, exist_ok=True)
    lock = open(WORK / "lock", "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError:
        sys.exit(f"another run holds {WORK / 'lock'}")
    return lock


def sync_tree() -> None:
    """Makes TREE a copy of the root's build inputs, touching only files that differ,
    so that the build directories stay incremental."""
    wanted: set[pathlib.Path] = set()
    for name in TREE_FILES:
        src = ROOT / name
        paths = [src] if src.is_file() else [p for p in src.rglob("*") if p.is_file()]
        for p in paths:
            rel = p.relative_to(ROOT)
            if "__pycache__" in rel.parts:
                continue
            wanted.add(rel)
            dest = TREE / rel
            data = p.read_bytes()
            if not dest.exists() or dest.read_bytes() != data:
                dest.parent.mkdir(parents=True, exist_ok=True)
                dest.write_bytes(data)
    for p in sorted(TREE.rglob("*"), reverse=True):
        if p.is_file() and p.relative_to(TREE) not in wanted:
            p.unlink()


def fingerprint(names: list[str], extra: bytes = b"") -> str:
    h = hashlib.sha1(extra)
    for name in names:
        src = ROOT / name
        paths = [src] if src.is_file() else sorted(p for p in src.rglob("*") if p.is_file())
        for p in paths:
            rel = p.relative_to(ROOT)
            if "__pycache__" in rel.parts or ".hypothesis" in rel.parts:
                continue
            h.update(str(rel).encode() + b"\0" + p.read_bytes() + b"\0")
    return h.hexdigest()[:12]


class Builds:
    def __init__(self, config: dict):
        self.config = config
        self.module_hash: dict[str, str] = {}

    def directory(self, name: str) -> pathlib.Path:
        return WORK / name

    def configure(self, name: str, defines: list[str]) -> None:
        d = self.directory(name)
        if (d / "build.ninja").exists():
            return
        cmd = ["cmake", "-S", str(TREE), "-B", str(d), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
               f"-DPython_EXECUTABLE={venv_python()}", *defines]
        status, out, _ = run(cmd, env=tool_env())
        if status != 0:
            shutil.rmtree(d, ignore_errors=True)
            sys.exit(f"configuring {name} failed:\n{out}")

    def build(self, name: str) -> tuple[bool, str]:
        status, out, _ = run(["cmake", "--build", str(self.directory(name)), "--target", "quorvel"],
                             env=tool_env())
        # The project builds with warnings as errors: a mutant that the compiler warns
        # of (a variable read before it is set, say) does not build.
        return status == 0 and not re.search(r"\bwarning: ", out), out

    def module(self, name: str) -> pathlib.Path:
        found = sorted(self.directory(name).glob("quorvel*.so")) + sorted(
            self.directory(name).glob("quorvel*.pyd"))
        return found[0]

    def module_digest(self, name: str) -> str:
        return hashlib.sha1(self.module(name).read_bytes()).hexdigest()

    def configure_verify(self, flavour: dict) -> None:
        """Configures the verification programs' build of one flavour (a name and the
        CMake arguments that make it: the plain build, or one under sanitizers)."""
        d = WORK / flavour["name"]
        if (d / "build.ninja").exists():
            return
        status, out, _ = run(["cmake", "-S", str(TREE / "verify"), "-B", str(d), "-G", "Ninja",
                              *flavour["cmake"]], env=tool_env())
        if status != 0:
            shutil.rmtree(d, ignore_errors=True)
            sys.exit(f"configuring the verification programs failed:\n{out}")

    def build_verify(self, flavour: dict, programs: list[str]) -> tuple[bool, str]:
        status, out, _ = run(["cmake", "--build", str(WORK / flavour["name"]), "--target",
                              *programs], env=tool_env())
        return status == 0, out


def test_command(config: dict, source: str | None) -> list[str]:
    """The test run for a mutant of `source` (None: the baseline, every test)."""
    tests = config["tests"]
    every = sorted(str(p.relative_to(ROOT)) for p in (ROOT / "tests").glob("test_*.py"))
    first = [t for t in tests["first"] if t in every]
    last = [t for t in tests.get("last", []) if t in every]
    rest = [t for t in every if t not in first + last + tests["skip"]]
    limited = {entry["test"]: entry["sources"] for entry in tests.get("only", [])}
    chosen = [t for t in first + rest + last
              if source is None or t not in limited or matches(source, limited[t])]
    # The limited ones at the end: they are the slowest.
    chosen.sort(key=lambda t: t in limited)
    return [venv_python(), "-m", "pytest", *tests["pytest_args"], *chosen]


def run_tests(config: dict, build_dir: pathlib.Path, timeout: float,
              source: str | None = None) -> tuple[str, str, float]:
    """('pass' | 'fail' | 'timeout', what failed, seconds)."""
    with tempfile.TemporaryDirectory(prefix="quorvel-mutation-") as tmp:
        env = dict(os.environ)
        env["PYTHONPATH"] = str(build_dir)
        env["HYPOTHESIS_STORAGE_DIRECTORY"] = tmp
        env.pop("CI", None)
        status, out, seconds = run(test_command(config, source), timeout=timeout, cwd=ROOT, env=env)
    if status is None:
        return "timeout", "timeout", seconds
    if status == 0:
        return "pass", "", seconds
    failed = re.findall(r"^FAILED (\S+)", out, re.M)
    if failed:
        return "fail", failed[0], seconds
    crash = re.search(r"Fatal Python error: \w+|Segmentation fault|Aborted", out)
    return "fail", crash.group(0) if crash else f"exit status {status}", seconds


def build_failure(build: str, output: str) -> dict:
    error = re.search(r"(?:error|warning): (.*)", output)
    return {"status": BUILD_FAILURE, "build": build,
            "killer": error.group(1)[:200] if error else "build failure"}


def verify_programs(config: dict, m: Mutant) -> list[dict]:
    return [v for v in config.get("verify", []) if matches(m.file, v["files"])]


def verify_flavour(v: dict) -> dict:
    """Where a verification program is built: build/mutation/verify, or, for one with
    `sanitize` flags, a build of its own under them (build/mutation/verify-asan)."""
    if not v.get("sanitize"):
        return {"name": "verify", "cmake": []}
    flags = v["sanitize"]
    return {"name": "verify-" + v.get("flavour", "sanitized"),
            "cmake": [f"-DCMAKE_CXX_FLAGS={flags}", f"-DCMAKE_EXE_LINKER_FLAGS={flags}"]}


class Campaign:
    def __init__(self, config: dict):
        self.config = config
        self.builds = Builds(config)
        # Results hold while the sources, the build inputs and the builds and
        # verification programs of the configuration are unchanged; a survivor's only
        # while the tests are unchanged too (tests are added, so a killed mutant stays
        # killed).
        judges = json.dumps([config["build"], config.get("verify", []), config.get("prove", {})],
                            sort_keys=True)
        self.print_id = fingerprint(TREE_FILES + ["tools/mutation_corpus.py"], judges.encode())
        self.prover = Prover(config, self.builds)
        self.equivalents = load_equivalents()
        self.tests_id = fingerprint(["tests"])
        self.results_path = WORK / f"results-{self.print_id}.jsonl"
        self.results: dict[str, dict] = {}
        self.baseline: dict[str, dict] = {}
        # Survivors of earlier tests: reported as they were, judged again by a run.
        self.earlier: dict[str, dict] = {}
        if self.results_path.exists():
            for line in self.results_path.read_text().splitlines():
                r = json.loads(line)
                current = r.get("tests") == self.tests_id
                if r["status"] == "baseline":
                    if current:
                        self.baseline[r["id"]] = r
                elif r["status"] == SURVIVED and not current:
                    self.earlier[r["id"]] = r
                else:
                    self.results[r["id"]] = r
                    self.earlier.pop(r["id"], None)

    def record(self, r: dict) -> None:
        r["tests"] = self.tests_id
        with open(self.results_path, "a") as f:
            f.write(json.dumps(r) + "\n")

    def prepare(self, build: str) -> None:
        """Builds the unmutated sources in `build` and checks that the tests pass on
        them, once per run, when a mutant first needs that build."""
        if build in self.builds.module_hash:
            return
        b = next(b for b in self.config["build"] if b["name"] == build)
        self.builds.configure(build, b["cmake"])
        ok, out = self.builds.build(build)
        if not ok:
            sys.exit(f"the unmutated sources do not build ({build}):\n{out}")
        self.builds.module_hash[build] = self.builds.module_digest(build)
        known = self.baseline.get(build)
        if known is None:
            print(f"baseline: the tests against the unmutated {build} build ...", flush=True)
            outcome, what, seconds = run_tests(self.config, self.builds.directory(build), 3600)
            if outcome != "pass":
                sys.exit(f"the tests fail on the unmutated {build} build: {what}")
            known = {"status": "baseline", "id": build, "seconds": seconds}
            self.baseline[build] = known
            self.record(known)
        print(f"baseline {build}: tests pass in {known['seconds']:.0f} s", flush=True)

    def timeout(self, build: str) -> float:
        return 3 * self.baseline[build]["seconds"] + 60

    def judge(self, m: Mutant) -> dict:
        for b in self.config["build"]:
            if matches(m.file, b["files"]):
                self.prepare(b["name"])
        for v in verify_programs(self.config, m):
            self.builds.configure_verify(verify_flavour(v))
        if any(listed(m, e) for e in self.equivalents):
            # A listed mutant that survives is proven against the unmutated module,
            # which has to be built before the change is applied.
            self.prover.prepare()
        path = TREE / m.file
        original = path.read_text()
        lines = original.split("\n")
        assert lines[m.line_no - 1] == m.original, f"{m.file}:{m.line_no} changed under the run"
        lines[m.line_no - 1] = m.mutated
        start = time.monotonic()
        result = {"id": m.id, "file": m.file, "line_no": m.line_no, "operator": m.operator,
                  "original": m.original, "mutated": m.mutated, "nth": m.nth}
        try:
            path.write_text("\n".join(lines))
            result.update(self.judge_applied(m))
        finally:
            path.write_text(original)
        result["seconds"] = round(time.monotonic() - start, 1)
        return result

    def judge_applied(self, m: Mutant) -> dict:
        changed = False
        for b in self.config["build"]:
            if not matches(m.file, b["files"]):
                continue
            ok, out = self.builds.build(b["name"])
            if not ok:
                return build_failure(b["name"], out)
            if self.builds.module_digest(b["name"]) == self.builds.module_hash[b["name"]]:
                continue
            changed = True
            outcome, what, _ = run_tests(self.config, self.builds.directory(b["name"]),
                                         self.timeout(b["name"]), m.file)
            if outcome != "pass":
                return {"status": KILLED, "build": b["name"], "killer": what}
        for v in verify_programs(self.config, m):
            flavour = verify_flavour(v)
            ok, out = self.builds.build_verify(flavour, [v["program"]])
            if not ok:
                return build_failure(flavour["name"], out)
            args = [a.replace("{root}", str(ROOT)) for a in v["args"]]
            status, out, _ = run([str(WORK / flavour["name"] / v["program"]), *args],
                                 timeout=600, env={**os.environ, **v.get("env", {})})
            if status != 0:
                return {"status": KILLED, "build": "verify",
                        "killer": f"{v['program']} ({'timeout' if status is None else 'failed'})"}
        if changed and any(listed(m, e) for e in self.equivalents):
            # Listed as equivalent: only when its proof holds.
            proof = self.prover.proof(m.id, m.file)
            return {"status": SURVIVED, "proof": proof["proof"], "why": proof.get("why")}
        return {"status": SURVIVED if changed else UNCHANGED}

    def run(self, mutants: list[Mutant]) -> None:
        # In an order of their ids' hashes: a campaign stopped part-way has judged a
        # random part of its sample, not its first files.
        todo = sorted((m for m in mutants if m.id not in self.results),
                      key=lambda m: hashlib.sha1(m.id.encode()).hexdigest())
        print(f"{len(mutants)} mutants, {len(mutants) - len(todo)} already judged "
              f"({self.results_path.name})", flush=True)
        start = time.monotonic()
        for i, m in enumerate(todo, 1):
            r = self.judge(m)
            self.results[m.id] = r
            self.record(r)
            elapsed = time.monotonic() - start
            print(f"[{i}/{len(todo)} {elapsed / 60:.0f} min] {r['status']:<13} {m.id} "
                  f"{m.file}:{m.line_no} {m.operator}: {m.mutated.strip()[:70]}"
                  + (f"  <- {r.get('killer')}" if r.get("killer") else ""), flush=True)
        # The tree's sources are the unmutated ones again: rebuild so that the build
        # directories hold the modules of the real sources.
        for b in self.config["build"]:
            if b["name"] in self.builds.module_hash:
                self.builds.build(b["name"])
        self.prover.restore()


# --- proving the listed equivalents ---

# The differential corpus and what it reads besides the module.
CORPUS = ROOT / "tools" / "mutation_corpus.py"
CORPUS_FILES = ["tools/mutation_corpus.py", "tests/wkb_helpers.py", "tests/test_leaks.py"]
# How a sanitized module is run under an interpreter that is not: the runtime of
# AddressSanitizer preloaded, every Python allocation a malloc of its own, the first
# report fatal.
SANITIZER_ENV = {
    "ASAN_OPTIONS": "detect_leaks=0:halt_on_error=1:abort_on_error=1:"
                    "detect_stack_use_after_return=1:strict_string_checks=1",
    "UBSAN_OPTIONS": "halt_on_error=1:print_stacktrace=1",
    "PYTHONMALLOC": "malloc",
    "OPENBLAS_NUM_THREADS": "1",
}
TRAP = "__builtin_trap();  // the module must never get here"


def asan_runtime() -> str:
    """What LD_PRELOAD needs for a sanitized module: the AddressSanitizer runtime of the
    compiler, and its C++ library, without which the runtime, loaded into a program
    that is not C++, cannot find __cxa_throw for the exceptions it intercepts (a
    std::bad_alloc the module throws then stops the process)."""
    compiler = os.environ.get("CXX", "g++")
    paths = []
    for name in ("libasan.so", "libstdc++.so"):
        status, out, _ = run([compiler, f"-print-file-name={name}"])
        if status != 0 or not os.path.isabs(out.strip()):
            sys.exit(f"{compiler} has no {name} ({out.strip()})")
        paths.append(out.strip())
    return " ".join(paths)


class Prover:
    """The proof of an equivalent: the mutant and the unmutated sources, each built
    under AddressSanitizer and UBSan (every finding fatal) in every build of the
    configuration (build/mutation/prove-sse2, prove-portable), run through the
    differential corpus of tools/mutation_corpus.py.  Any difference of an output,
    sanitizer report, crash or time-out proves the mutant is not equivalent."""

    def __init__(self, config: dict, builds: Builds):
        prove = config.get("prove", {})
        self.builds = builds
        # Proofs hold while the sources, the build inputs, the corpus and the builds
        # are unchanged: kept per mutant (or trapped function) under that fingerprint.
        judges = json.dumps([config["build"], prove], sort_keys=True)
        inputs = fingerprint(TREE_FILES + CORPUS_FILES, judges.encode())
        self.proofs_path = WORK / f"proofs-{inputs}.jsonl"
        self.proofs: dict[str, dict] = {}
        if self.proofs_path.exists():
            for line in self.proofs_path.read_text().splitlines():
                r = json.loads(line)
                self.proofs[r["id"]] = r
        self.corpus_args = ["--seed", str(prove.get("seed", 1)), "--scale",
                            str(prove.get("scale", 1))]
        self.flavours = [{"name": "prove-" + b["name"], "files": b["files"],
                          "cmake": [*b["cmake"], *prove.get("cmake", ["-DQUORVEL_SANITIZE=ON"])]}
                         for b in config["build"]]
        self.reference: dict[str, dict] = {}
        self.env = None

    def prepare(self) -> None:
        """Builds the unmutated sources in each flavour and runs the corpus on them
        once (kept per module digest under the flavour's directory).  Called while the
        tree holds no change: a reference built with a mutant applied would prove that
        mutant against itself, and every later one against it."""
        if self.reference:
            return
        self.env = {**os.environ, **SANITIZER_ENV, "LD_PRELOAD": asan_runtime()}
        for f in self.flavours:
            self.builds.configure(f["name"], f["cmake"])
            ok, out = self.builds.build(f["name"])
            if not ok:
                sys.exit(f"the unmutated sources do not build ({f['name']}):\n{out}")
            digest = self.builds.module_digest(f["name"])
            path = self.builds.directory(f["name"]) / f"reference-{digest[:12]}.txt"
            seconds_path = path.with_suffix(".seconds")
            if not (path.exists() and seconds_path.exists()):
                print(f"prove: the corpus through the unmutated {f['name']} build ...", flush=True)
                status, out, seconds = self.run_corpus(f["name"], path, 3600)
                if status != 0:
                    sys.exit(f"the corpus fails on the unmutated {f['name']} build:\n{out[-3000:]}")
                seconds_path.write_text(f"{seconds:.1f}\n")
            self.reference[f["name"]] = {"digest": digest, "path": path,
                                         "seconds": float(seconds_path.read_text())}

    def run_corpus(self, name: str, out: pathlib.Path, timeout: float):
        env = {**self.env, "PYTHONPATH": str(self.builds.directory(name))}
        env.pop("CI", None)
        return run([venv_python(), str(CORPUS), str(out), *self.corpus_args], timeout=timeout,
                   cwd=ROOT, env=env)

    def proof(self, ident: str, file: str) -> dict:
        """The proof of the change that the tree holds now (a mutant applied), known by
        `ident`: from the record of earlier proofs, or made and recorded."""
        if ident not in self.proofs:
            start = time.monotonic()
            r = {"id": ident, **self.judge_applied(file),
                 "seconds": round(time.monotonic() - start, 1)}
            WORK.mkdir(parents=True, exist_ok=True)
            with open(self.proofs_path, "a") as f:
                f.write(json.dumps(r) + "\n")
            self.proofs[ident] = r
        return self.proofs[ident]

    def judge_applied(self, file: str) -> dict:
        assert self.reference, "the references are built before a change is applied"
        compared = 0
        for f in self.flavours:
            if not matches(file, f["files"]):
                continue
            reference = self.reference[f["name"]]
            ok, out = self.builds.build(f["name"])
            if not ok:
                return {"proof": "does not build", "why": build_failure(f["name"], out)["killer"]}
            if self.builds.module_digest(f["name"]) == reference["digest"]:
                continue
            compared += 1
            got = self.builds.directory(f["name"]) / "mutant.txt"
            status, out, _ = self.run_corpus(f["name"], got, 10 * reference["seconds"] + 60)
            if status is None:
                return {"proof": "wrong", "why": f"{f['name']}: the corpus timed out"}
            if status != 0:
                report = re.search(r"(ERROR: \w+Sanitizer: [^\n]*|runtime error: [^\n]*|"
                                   r"Fatal Python error: [^\n]*)", out)
                why = report.group(1) if report else f"exit status {status}: {out[-300:]}"
                return {"proof": "wrong", "why": f"{f['name']}: {why}"}
            difference = first_difference(reference["path"], got)
            if difference:
                return {"proof": "wrong", "why": f"{f['name']}: {difference}"}
        return {"proof": "equivalent" if compared else "unchanged"}

    def restore(self) -> None:
        """Rebuilds each flavour from the tree's unmutated sources."""
        for f in self.flavours:
            if f["name"] in self.reference:
                self.builds.build(f["name"])


def first_difference(a: pathlib.Path, b: pathlib.Path) -> str | None:
    """The first call whose outcome differs between two outputs of the corpus."""
    with open(a, encoding="utf-8", errors="replace") as fa, \
            open(b, encoding="utf-8", errors="replace") as fb:
        for x, y in zip(fa, fb):
            if x != y:
                n, call, was = x.rstrip("\n").split("\t", 2)
                became = y.rstrip("\n").split("\t", 2)[-1]
                return f"call {n}, {call[:150]}: {was[:150]} became {became[:150]}"
        rest_a, rest_b = fa.readline(), fb.readline()
    if rest_a or rest_b:
        return "the corpus ended early" if rest_a else "the corpus grew"
    return None


def region_around(file: str, line_no: int) -> str:
    """The top-level definition holding a line: from the line after the last brace at
    the start of a line before it to the next such brace (whole functions, classes and
    tables, with their comments)."""
    lines = (ROOT / file).read_text().split("\n")
    i = line_no - 1
    begin = next((j + 1 for j in range(i - 1, -1, -1) if lines[j].startswith("}")), 0)
    end = next((j + 1 for j in range(i, len(lines)) if lines[j].startswith("}")), len(lines))
    return "\n".join(lines[begin:end])


def entry_line(entry: dict) -> int | None:
    """The line (1-based) of an entry: its nth copy, or the first line of its function."""
    lines = (ROOT / entry["file"]).read_text().split("\n")
    wanted = (entry["first"] if entry.get("whole") else entry["line"]).strip()
    found = [i + 1 for i, line in enumerate(lines) if line.strip() == wanted]
    nth = entry.get("nth", 1)
    return found[nth - 1] if len(found) >= nth else None


def stamp(entry: dict) -> str:
    """What the proof of an entry holds for: the entry (its reason aside) and the text
    of the definition around its line.  An edit there, or of the entry, calls for the
    proof again."""
    key = {k: v for k, v in entry.items() if k not in ("reason", "proven")}
    line = entry_line(entry)
    text = region_around(entry["file"], line) if line else ""
    return hashlib.sha1((json.dumps(key, sort_keys=True) + "\0" + text).encode()).hexdigest()[:12]


def write_stamps(stamps: dict[tuple[str, int], str | None]) -> None:
    """Sets (or, for None, removes) the `proven` line of entries of the list, each known
    by its table and its index there."""
    lines = EQUIVALENT.read_text().split("\n")
    out: list[str] = []
    counters = {"equivalent": -1, "function": -1}
    current: tuple[str, int] | None = None

    def close() -> None:
        if current is None or current not in stamps:
            return
        last_key = max(j for j, line in enumerate(out) if re.match(r"\w+ = ", line))
        if stamps[current] is not None:
            out.insert(last_key + 1, f'proven = "{stamps[current]}"')

    for line in lines:
        table = re.fullmatch(r"\[\[(equivalent|function)\]\]", line.strip())
        if table:
            close()
            counters[table.group(1)] += 1
            current = (table.group(1), counters[table.group(1)])
        elif current in stamps and line.startswith("proven = "):
            continue
        out.append(line)
    close()
    EQUIVALENT.write_text("\n".join(out))


def entries_with_keys() -> list[tuple[tuple[str, int], dict]]:
    with open(EQUIVALENT, "rb") as f:
        data = tomllib.load(f)
    return ([(("equivalent", i), e) for i, e in enumerate(data.get("equivalent", []))]
            + [(("function", i), dict(e, whole=True))
               for i, e in enumerate(data.get("function", []))])


def trapped(file: str, first: str) -> tuple[int, str] | None:
    """Where a trap goes into a listed function: after the line that opens its body."""
    lines = (ROOT / file).read_text().split("\n")
    for i, line in enumerate(lines):
        if line.strip() == first.strip():
            opening = next((j for j in range(i, len(lines)) if lines[j].rstrip().endswith("{")),
                           None)
            return None if opening is None else (opening + 1, TRAP)
    return None


def prove(config: dict, args: argparse.Namespace) -> int:
    """Proves the selected entries of the list, writes the stamps of those that hold
    and reports the rest."""
    every = all_mutants(config)
    chosen = []
    for key, entry in entries_with_keys():
        if args.file and not matches(entry["file"], args.file):
            continue
        if args.changed and entry.get("proven") == stamp(entry):
            continue
        mutants = [m for m in every if listed(m, entry)]
        if args.id and not any(m.id in args.id for m in mutants):
            continue
        chosen.append((key, entry, mutants))
    print(f"prove: {len(chosen)} entries of {EQUIVALENT.relative_to(ROOT)}"
          + (" whose stamps do not match" if args.changed else ""), flush=True)
    if not chosen:
        return 0
    lock = hold_lock()  # noqa: F841 (held to the end)
    sync_tree()
    prover = Prover(config, Builds(config))
    prover.prepare()
    stamps: dict[tuple[str, int], str | None] = {}
    wrong = []
    start = time.monotonic()
    try:
        for n, (key, entry, mutants) in enumerate(chosen, 1):
            if entry.get("whole"):
                at = trapped(entry["file"], entry["first"])
                changes = [] if at is None else [("trap:" + stamp(entry), at[0], None, at[1])]
            else:
                changes = [(m.id, m.line_no, m.original, m.mutated) for m in mutants]
            results = [prove_change(prover, ident, entry["file"], line_no, original, mutated)
                       for ident, line_no, original, mutated in changes]
            bad = [r for r in results if r["proof"] == "wrong"] or (
                [{"proof": "wrong", "why": "no such mutant (stale entry)"}] if not changes else [])
            shown = (entry["first"] if entry.get("whole")
                     else f"{entry['line']} -> {entry['mutated']}")
            verdict = "wrong" if bad else (results[0]["proof"] if results else "-")
            print(f"[{n}/{len(chosen)} {(time.monotonic() - start) / 60:.0f} min] {verdict:<11} "
                  f"{entry['file']}: {shown.strip()[:90]}"
                  + (f"\n    {bad[0]['why']}" if bad else ""), flush=True)
            if bad:
                wrong.append((entry, bad[0]["why"]))
                stamps[key] = None
            else:
                stamps[key] = stamp(entry)
    except KeyboardInterrupt:
        print("interrupted: the proofs so far are kept, a new run continues from them")
        return 1
    finally:
        write_stamps(stamps)
        prover.restore()
    print(f"\nprove: {len(chosen) - len(wrong)} of {len(chosen)} entries proven in "
          f"{(time.monotonic() - start) / 60:.0f} min; stamps written to "
          f"{EQUIVALENT.relative_to(ROOT)}")
    if wrong:
        print(f"Not equivalent ({len(wrong)}): a test or a removal each")
        for entry, why in wrong:
            print(f"  {entry['file']}: {(entry.get('line') or entry['first']).strip()}\n    {why}")
    return 1 if wrong else 0


def prove_change(prover: Prover, ident: str, file: str, line_no: int, original: str | None,
                 mutated: str) -> dict:
    """The proof of one change of the tree (a line replaced, or, with original None, a
    line inserted after line_no), recorded under `ident`."""
    if ident in prover.proofs:
        return prover.proofs[ident]
    path = TREE / file
    text = path.read_text()
    lines = text.split("\n")
    if original is None:
        lines.insert(line_no, mutated)
    else:
        assert lines[line_no - 1] == original, f"{file}:{line_no} changed under the run"
        lines[line_no - 1] = mutated
    try:
        path.write_text("\n".join(lines))
        return prover.proof(ident, file)
    finally:
        path.write_text(text)


# --- the report ---


def report(config: dict, mutants: list[Mutant], results: dict[str, dict], title: str) -> str:
    equivalents = load_equivalents()
    every = all_mutants(config)
    stale = [e for e in equivalents if not any(listed(m, e) for m in every)]
    rows: dict[str, dict[str, int]] = {}
    survivors, listed_killed, verify_only, unproven = [], [], [], []
    columns = ["mutants", KILLED, SURVIVED, "equivalent", UNCHANGED, BUILD_FAILURE]
    seconds = 0.0
    for m in mutants:
        r = results.get(m.id)
        if r is None:
            continue
        seconds += r.get("seconds", 0)
        status = r["status"]
        entry = next((e for e in equivalents if listed(m, e)), None)
        if status == SURVIVED and entry is not None and r.get("proof") != "wrong":
            status = "equivalent"
            if r.get("proof") == "not proven":
                unproven.append(r)
        elif status == SURVIVED:
            survivors.append(r)
        if status == KILLED and entry is not None:
            listed_killed.append(r)
        if status == KILLED and r.get("build") == "verify":
            verify_only.append(r)
        for key in (m.file, "total"):
            row = rows.setdefault(key, dict.fromkeys(columns, 0))
            row["mutants"] += 1
            row[status] += 1
    lines = [title, ""]
    width = max([len(k) for k in rows] + [10])
    lines.append(f"{'file':<{width}} " + " ".join(f"{c:>13}" for c in columns) + "   score")
    for key in sorted(rows, key=lambda k: (k == "total", k)):
        row = rows[key]
        judged = row[KILLED] + row[SURVIVED]
        score = f"{100 * row[KILLED] / judged:6.1f} %" if judged else "      -"
        lines.append(f"{key:<{width}} " + " ".join(f"{row[c]:>13}" for c in columns) + f"  {score}")
    total = rows.get("total", dict.fromkeys(columns, 0))
    judged = total[KILLED] + total[SURVIVED]
    lines += ["",
              f"Score: {total[KILLED]} killed of {judged} mutants that compile and change the "
              f"module, less the listed equivalents"
              + (f": {100 * total[KILLED] / judged:.1f} %" if judged else ""),
              f"Time: {seconds / 60:.0f} min of building and testing."]
    if verify_only:
        lines += ["", f"Killed only by a verification program ({len(verify_only)}):"]
        lines += [f"  {r['id']} {r['file']}:{r['line_no']} {r['mutated'].strip()}  <- {r['killer']}"
                  for r in verify_only]
    if survivors:
        lines += ["", f"Survivors, test gaps unless listed in {EQUIVALENT.relative_to(ROOT)} "
                  f"({len(survivors)}):"]
        for r in survivors:
            lines += [f"  {r['id']} {r['file']}:{r['line_no']} ({r['operator']})",
                      f"    - {r['original'].strip()}", f"    + {r['mutated'].strip()}"]
            if r.get("proof") == "wrong":
                lines.append(f"    listed as equivalent, but not: {r['why']}")
    if unproven:
        lines += ["", f"Listed, taken as equivalent, not proven on these sources ({len(unproven)}; "
                  "tools/mutation.py prove proves them):"]
        lines += [f"  {r['id']} {r['file']}:{r['line_no']} {r['mutated'].strip()}" for r in unproven]
    if listed_killed:
        lines += ["", "Listed as equivalent but killed (remove from the list):"]
        lines += [f"  {r['id']} {r['file']}:{r['line_no']} {r['mutated'].strip()}" for r in listed_killed]
    if stale:
        lines += ["", "Stale entries of the equivalent list (no such mutant any more):"]
        lines += [f"  {e['file']}: {e['first'].strip()}" if e.get("whole") else
                  f"  {e['file']}: {e['line'].strip()} -> {e['mutated'].strip()}" for e in stale]
    return "\n".join(lines) + "\n"


# --- the command line ---


def select(config: dict, args: argparse.Namespace) -> list[Mutant]:
    mutants = all_mutants(config)
    if args.id:
        return [m for m in mutants if m.id in args.id]
    # The sample is drawn from every file first, so that a run of some files judges
    # the same mutants of them as the whole campaign.  With --also, the union of
    # samples, in the order given.
    drawn: dict[str, Mutant] = {}
    for n, seed in [(args.sample, args.seed), *args.also]:
        drawn.update((m.id, m) for m in sample(mutants, n, seed) if m.id not in drawn)
    mutants = list(drawn.values())
    if args.file:
        mutants = [m for m in mutants if matches(m.file, args.file)]
    return mutants


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("command", choices=["run", "report", "list", "show", "prove"])
    parser.add_argument("ids", nargs="*", help="mutant ids (show)")
    parser.add_argument("--sample", type=int, default=0, help="about N mutants (0: all)")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--also", type=lambda t: tuple(int(x) for x in t.split(":")),
                        action="append", default=[], metavar="SAMPLE:SEED",
                        help="and the mutants of another sample (run, report, list)")
    parser.add_argument("--file", action="append", help="only files matching this pattern")
    parser.add_argument("--id", action="append", help="only this mutant")
    parser.add_argument("--skip-listed", action="store_true",
                        help="take listed equivalents as such without running them (run)")
    parser.add_argument("--changed", action="store_true",
                        help="only the entries whose stamp does not match (prove)")
    args = parser.parse_args()
    config = load_config()
    # A terminated run restores the mutated file and stops its tests, as on Ctrl-C.
    signal.signal(signal.SIGTERM, signal.default_int_handler)

    if args.command == "show":
        every = {m.id: m for m in all_mutants(config)}
        for i in args.ids:
            m = every[i]
            print(f"# {m.id} {m.file}:{m.line_no} ({m.operator})\n[[equivalent]]\n"
                  f"file = {json.dumps(m.file)}\nline = {json.dumps(m.original.strip())}\n"
                  f"mutated = {json.dumps(m.mutated.strip())}\n"
                  + (f"nth = {m.nth}\n" if copies(m) > 1 else "") + 'reason = ""\n')
        return 0
    if args.command == "prove":
        return prove(config, args)
    mutants = select(config, args)
    if args.command == "list":
        for m in mutants:
            shown = m.original.strip() if m.operator == "delete" else m.mutated.strip()
            print(f"{m.id} {m.file}:{m.line_no} {m.operator:<12} {shown}")
        print(f"{len(mutants)} mutants", file=sys.stderr)
        return 0

    campaign = Campaign(config)
    if args.command == "report":  # what the cache holds of the selection
        mutants = [m for m in mutants if m.id in campaign.results or m.id in campaign.earlier]
        earlier = sum(m.id in campaign.earlier and m.id not in campaign.results for m in mutants)
        campaign.results = {**campaign.earlier, **campaign.results}
    title = (f"Mutation campaign of {datetime.datetime.now():%Y-%m-%d %H:%M}: {len(mutants)} mutants"
             f" (seed {args.seed}, sample {args.sample or 'all'}"
             + "".join(f"; and seed {seed}, sample {n or 'all'}" for n, seed in args.also)
             + f"; results {campaign.results_path.name})")
    if args.command == "run":
        lock = hold_lock()  # noqa: F841 (held to the end)
        sync_tree()
        start = time.monotonic()
        todo = mutants
        if args.skip_listed:
            equivalents = load_equivalents()
            skipped = [m for m in mutants if m.id not in campaign.results
                       and any(listed(m, e) for e in equivalents)]
            todo = [m for m in mutants if m not in skipped]
            for m in skipped:
                # Its proof: one made of these sources (a mutant of a listed function:
                # the function's, with the trap), else the entry's stamp when it matches.
                entry = next(e for e in equivalents if listed(m, e))
                key = "trap:" + stamp(entry) if entry.get("whole") else m.id
                proof = campaign.prover.proofs.get(key) or {
                    "proof": "stamped" if entry.get("proven") == stamp(entry) else "not proven"}
                campaign.results[m.id] = {"id": m.id, "file": m.file, "line_no": m.line_no,
                                          "operator": m.operator, "original": m.original,
                                          "mutated": m.mutated, "status": SURVIVED,
                                          "proof": proof["proof"], "why": proof.get("why")}
            title += f", {len(skipped)} listed as equivalent and not run"
        try:
            campaign.run(todo)
        except KeyboardInterrupt:
            sys.exit("interrupted: the results so far are kept, a new run continues from them")
        title += f", run in {(time.monotonic() - start) / 60:.0f} min"
    if args.command == "report" and earlier:
        title += (f"\n{earlier} of the survivors were judged before the tests last changed;"
                  f" a run judges them again")
    text = report(config, mutants, campaign.results, title)
    print(text)
    (WORK / "report.txt").write_text(text)
    equivalents = load_equivalents()
    gaps = [m for m in mutants if campaign.results.get(m.id, {}).get("status") == SURVIVED
            and (campaign.results[m.id].get("proof") == "wrong"
                 or not any(listed(m, e) for e in equivalents))]
    return 1 if gaps else 0


if __name__ == "__main__":
    sys.exit(main())
