# Set-up, demo and tests.  Every target finds a Python 3.13+ by itself
# (tools/find-python; override with PYTHON=/path/to/python3.13) and uses the
# active virtual environment, or creates .venv when none is active.
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
# Debian packages: Dragonbox (shortest digits), fast_float (number parsing) and
# Google Benchmark (the benchmarks' C++ floor).  The build works without them,
# only slower.
DEBIAN_PACKAGES ?= libdragonbox-dev libfast-float-dev libbenchmark-dev

.PHONY: demo test bench bench-scale fuzz-replay fuzz test-asan install deps venv clean

demo: install
	$(PY) examples/demo.py

test: install
	$(PIP) install '.[test]' $(BUILD_FLAGS)
	$(PY) -m pytest tests

# Benchmarks against shapely and against the C++ floor; BENCH_ARGS=--quick for a
# short run.
bench: install
	$(PIP) install '.[bench]' $(BUILD_FLAGS)
	$(PY) bench/run.py $(BENCH_ARGS)

# Whole tables in one process, a process pool and Dask (2 workers each);
# SCALE_ARGS=--quick for a short run, "--max-load 0.5" to start rounds on a quiet machine.
bench-scale: install
	$(PIP) install '.[bench]' $(BUILD_FLAGS)
	$(PY) bench/scale.py $(SCALE_ARGS)

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

# The Python suite against an ASan/UBSan build of the module (build/asan).
test-asan: install
	$(PIP) install '.[test]' $(BUILD_FLAGS)
	$(WITH_VENV_PATH) PYTHON=$(PY) tools/test-asan.sh

install: deps venv
	$(PIP) install . $(BUILD_FLAGS)

# System packages, installed when missing and this user may (root with apt-get).
deps:
	@missing=$$(for p in $(DEBIAN_PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ] && command -v apt-get >/dev/null; then \
	    echo "installing Debian packages: $$missing"; \
	    (apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing) >/dev/null \
	      || echo "warning: could not install $$missing"; \
	  else echo "note: Debian packages not installed (not root): $$missing"; fi; \
	fi

venv: $(PY)
$(PY):
	"$$(tools/find-python)" -m venv $(VENV)
	$(PIP) install --upgrade pip
	$(PIP) install scikit-build-core cmake ninja

clean:
	rm -rf build dist *.egg-info
