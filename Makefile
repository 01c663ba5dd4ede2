# Each target works on a fresh Debian machine: it installs what is missing first.
PYTHON ?= python3
VENV   := .venv
PY     := $(VENV)/bin/python
DEPS   := $(VENV)/.deps-installed
# The Debian roots install the suite's needs only, without benchmark anchors.
REQUIREMENTS ?= requirements-dev.txt
PYTEST_ARGS ?=

.PHONY: build test test-cpp demo bench deps clean test-asan test-pythons test-arm64 test-clang wheel \
        fuzz fuzz-smoke docs lint test-plain-lanes test-lanes check-long check test-browser

deps: $(DEPS)

$(DEPS): requirements-dev.txt $(REQUIREMENTS) scripts/install-deps
	scripts/install-deps
	scripts/dev-venv $(PYTHON) $(VENV) $(REQUIREMENTS)
	touch $@

build: $(DEPS)
	scripts/install-module $(PY) --no-deps .

# The C++ test and check programs, built by CMake (the module's own flags)
# with TEST_CXX into build/cpp-TEST_CXX and run by ctest.
TEST_CXX ?= g++
CPP_BUILD = build/cpp-$(notdir $(TEST_CXX))
# The two long checks, bounded: the decoded scene field against the plain
# record walk (in this CPU's widest lanes and in each path forced: plain, and
# on x86-64 SSE2, AVX2 and AVX-512 where the CPU has them; LONG_SCENES seeded
# scenes, 200000 is the full run) and sinf/cosf against sincosf on every
# LONG_STRIDE-th 32-bit input (1 checks all 2^32).
LONG_SCENES ?= 50000
LONG_STRIDE ?= 13
CPP_TARGETS_unit := core_tests
CPP_TARGETS_long := long_checks
# $(call cpp-run,LABEL): configure, build that label's programs, run them.
define cpp-run
	PATH=$(abspath $(VENV))/bin:$$PATH cmake -S . -B $(CPP_BUILD) -G Ninja -DCMAKE_CXX_COMPILER=$(TEST_CXX) -DCMAKE_BUILD_TYPE= \
	    -DCORE_TESTS=ON -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DPython_EXECUTABLE=$(abspath $(PY)) \
	    -DCORE_LONG_SCENES=$(LONG_SCENES) -DCORE_LONG_STRIDE=$(LONG_STRIDE) $(CPP_CMAKE_ARGS) >/dev/null
	PATH=$(abspath $(VENV))/bin:$$PATH cmake --build $(CPP_BUILD) --target $(CPP_TARGETS_$(1))
	PATH=$(abspath $(VENV))/bin:$$PATH ctest --test-dir $(CPP_BUILD) -L $(1) --output-on-failure
endef

test-cpp: $(DEPS)
	$(call cpp-run,unit)

# scripts/check-suite builds and installs the module, then runs stubtest and
# pytest: the same routine as test-asan, test-clang and test-pythons.
test: $(DEPS) test-cpp
	scripts/check-suite $(VENV) -- $(PYTEST_ARGS)

# The quick lane for day-to-day work: make test without the slow groups
# (the tests marked `slow`).
check: $(DEPS) test-cpp
	scripts/check-suite $(VENV) -- -m "not slow" $(PYTEST_ARGS)

# The SDF tests against the module built with each path of the SDF field's
# lanes forced (CORE_LANES): plain C++, which machines with neither SSE2 nor
# NEON run, and on x86-64 SSE2, AVX2 and AVX-512 (each skipped where this CPU
# cannot run it). Each is installed beside the build into build/lanes-PATH
# and put ahead of .venv's own module. test-plain-lanes: the plain path alone.
LANES ?= plain $(if $(filter x86_64,$(shell uname -m)),sse2 avx2 avx512)
test-lanes: $(DEPS)
	for lanes in $(LANES); do scripts/test-lanes $(PY) $$lanes || exit 1; done

test-plain-lanes: $(DEPS)
	scripts/test-lanes $(PY) plain

check-long: $(DEPS)
	$(call cpp-run,long)

# The demos in a venv of their own with only what a user installs: the module
# with its GPU extra, Pillow for the pictures, and the build tools.
demo:
	scripts/install-deps
	scripts/dev-venv $(PYTHON) .venv-demo requirements-demo.txt
	scripts/install-module .venv-demo/bin/python -C build-dir='build/demo-{wheel_tag}' '.[gpu]'
	.venv-demo/bin/python examples/demo.py

# The GPU checks again in headless Chromium (its own WGSL compiler and
# software adapter), printing what they compared.
test-browser: build
	scripts/install-deps chromium
	GFXCORE_BROWSER=1 $(PY) -m pytest -q -s tests/test_browser.py $(PYTEST_ARGS)

bench: build
	$(PY) bench/run.py

# The whole suite against a build with AddressSanitizer and UBSan.
test-asan: $(DEPS)
	PYTHON=$(PYTHON) scripts/test-asan

# The suite on every other supported Python: 3.11 to 3.13 from this machine,
# 3.14 and 3.15 in a Debian unstable root (made once, kept in the cache).
test-pythons: $(DEPS)
	scripts/test-pythons

# make test and make wheel in a Debian 12 arm64 root under qemu-user-static
# (compiled there by the host's cross compiler on x86-64).
test-arm64:
	scripts/test-arm64

# The suite on CPython 3.14's debug build in the unstable root, then each test
# module three times in one process: anything the later runs leave behind
# (references, memory blocks) fails it.
.PHONY: test-debug wheels
test-debug:
	scripts/test-debug

# A checked wheel per Python the checks run on (3.11 to 3.13 here, 3.14 and
# 3.15 in the unstable root, 3.11 on arm64), listed with the glibc each needs.
# Cheapest after test-pythons and test-arm64, whose builds it reuses.
wheels: $(DEPS)
	scripts/wheels

# The module built with Clang, and every source compiled against libc++.
test-clang: $(DEPS)
	PYTHON=$(PYTHON) scripts/test-clang

# A wheel with liblz4, oneTBB and Boost.JSON bundled, in dist/; checked by
# installing it where none of them is on the library path.
wheel: $(DEPS)
	scripts/build-wheel

# Each fuzz harness for FUZZ_SECONDS (default 300) against a coverage-
# instrumented build; fuzz-smoke is the short run CI makes.
FUZZ_SECONDS ?= 300
fuzz: $(DEPS)
	scripts/fuzz $(FUZZ_SECONDS)

fuzz-smoke: $(DEPS)
	scripts/fuzz 20

# The documentation site in site/, built strictly from the stubs, gfxcore
# and docs/ with its own venv (the gallery's pictures drawn first with the
# built module), then opened in headless Chromium and checked.
docs: build
	scripts/install-deps
	scripts/install-deps chromium
	scripts/dev-venv $(PYTHON) .venv-docs requirements-docs.txt
	$(PY) scripts/gallery build/gallery
	NO_MKDOCS_2_WARNING=1 .venv-docs/bin/mkdocs build --strict --quiet
	.venv-docs/bin/python scripts/check-docs site

# C++ against .clang-format and Python against ruff's settings in
# pyproject.toml, with pinned versions in a venv of their own.
lint:
	scripts/dev-venv $(PYTHON) .venv-lint requirements-lint.txt
	.venv-lint/bin/clang-format --dry-run --Werror $$(git ls-files '*.cpp' '*.hpp')
	.venv-lint/bin/ruff format --check --quiet .
	.venv-lint/bin/ruff check --quiet .

clean:
	rm -rf build dist
