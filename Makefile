# Each target works on a fresh Debian machine: it installs what is missing first.
PYTHON ?= python3
VENV   := .venv
PY     := $(VENV)/bin/python
DEPS   := $(VENV)/.deps-installed
# The Debian roots install the suite's needs only, without benchmark anchors.
REQUIREMENTS ?= requirements-dev.txt
PYTEST_ARGS ?=

.PHONY: build test test-cpp demo bench deps clean test-asan test-pythons test-arm64 test-clang wheel \
        fuzz fuzz-smoke docs lint

deps: $(DEPS)

$(DEPS): requirements-dev.txt $(REQUIREMENTS) scripts/install-deps
	scripts/install-deps
	scripts/dev-venv $(PYTHON) $(VENV) $(REQUIREMENTS)
	touch $@

build: $(DEPS)
	$(PY) -m pip install -q --no-build-isolation --no-deps .

# The C++ tests (the physics core, and the binding layer through an embedded
# interpreter), built with TEST_CXX.
TEST_CXX ?= g++
test-cpp: $(DEPS)
	mkdir -p build
	$(TEST_CXX) -std=c++20 -O2 -ffp-contract=off -Wall -Wextra -Wpedantic -Werror -Isrc \
	    -o build/test_physics_core_$(TEST_CXX) tests/cpp/test_world.cpp \
	    $(filter-out src/physics/bind.cpp,$(wildcard src/physics/*.cpp)) src/common/format.cpp \
	    src/common/interrupt.cpp src/common/seed.cpp -ltbb \
	    tests/cpp/main.cpp tests/cpp/test_binding.cpp $(wildcard src/module/*.cpp) \
	    $$($(PY) -c 'import sysconfig as s; v = s.get_config_var; print("-I" + s.get_paths()["include"], "-L" + v("LIBDIR"), "-Wl,-rpath," + v("LIBDIR"), "-lpython" + v("LDVERSION"))')
	build/test_physics_core_$(TEST_CXX)

test: build test-cpp
	$(PY) -m mypy.stubtest _core --concise
	$(PY) -m pytest -q tests $(PYTEST_ARGS)

demo: build
	$(PY) examples/demo.py

bench: build
	$(PY) bench/run.py

# The whole suite against a build with AddressSanitizer and UBSan.
test-asan: $(DEPS)
	PYTHON=$(PYTHON) scripts/test-asan

# The suite on every other supported Python: 3.11 to 3.13 from this machine,
# 3.14 and 3.15 in a Debian unstable root (made once, kept in the cache).
test-pythons: $(DEPS)
	scripts/test-pythons

# make test and make wheel in a Debian 12 arm64 root under qemu-user-static.
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
# and docs/ with its own venv, then opened in headless Chromium and checked.
docs:
	scripts/install-deps
	scripts/install-deps chromium
	scripts/dev-venv $(PYTHON) .venv-docs requirements-docs.txt
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
