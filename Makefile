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

.PHONY: demo test test-libcxx verify-number-reader bench fuzz-replay fuzz test-asan install deps venv clean

demo: install
	$(PY) examples/demo.py

test: install
	$(PIP) install '.[test]' $(BUILD_FLAGS)
	$(PY) -m pytest tests

# The whole suite against a build with clang and libc++ and none of the optional
# packages (fast_float and Dragonbox ignored by build options), in a virtual
# environment of its own.
LIBCXX_PACKAGES ?= clang-14 libc++-14-dev libc++abi-14-dev
LIBCXX_VENV ?= .venv-libcxx
LIBCXX_PY := $(abspath $(LIBCXX_VENV))/bin/python
LIBCXX_FLAGS := -Cbuild-dir=build/libcxx -Ccmake.define.CMAKE_CXX_COMPILER=clang++-14 \
  -Ccmake.define.CMAKE_CXX_FLAGS=-stdlib=libc++ -Ccmake.define.CMAKE_MODULE_LINKER_FLAGS=-stdlib=libc++ \
  -Ccmake.define.QUORVEL_USE_FAST_FLOAT=OFF -Ccmake.define.QUORVEL_USE_DRAGONBOX=OFF

test-libcxx:
	@$(MAKE) --no-print-directory deps DEBIAN_PACKAGES="$(LIBCXX_PACKAGES)"
	@$(MAKE) --no-print-directory venv VENV=$(LIBCXX_VENV) VIRTUAL_ENV=
	$(LIBCXX_PY) -m pip --disable-pip-version-check -q install '.[test]' $(BUILD_FLAGS) $(LIBCXX_FLAGS)
	$(LIBCXX_PY) -m pytest tests

# The number reader against strtod, std::from_chars and fast_float on VERIFY_COUNT
# random and adversarial texts (verify/number_reader.cpp).
VERIFY_COUNT ?= 100000000
verify-number-reader: venv
	$(WITH_VENV_PATH) cmake -S verify -B build/verify -DCMAKE_BUILD_TYPE=Release >/dev/null
	$(WITH_VENV_PATH) cmake --build build/verify -j2 --target number_reader >/dev/null
	build/verify/number_reader $(VERIFY_COUNT)

# Benchmarks against shapely and against the C++ floor; BENCH_ARGS=--quick for a
# short run.
bench: install
	$(PIP) install '.[bench]' $(BUILD_FLAGS)
	$(PY) bench/run.py $(BENCH_ARGS)

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
