# Each target works on a fresh Debian machine: it installs what is missing first.
PYTHON ?= python3
VENV   := .venv
PY     := $(VENV)/bin/python
DEPS   := $(VENV)/.deps-installed

.PHONY: build test demo bench deps clean test-asan test-pythons wheel fuzz fuzz-smoke docs

deps: $(DEPS)

$(DEPS): requirements-dev.txt scripts/install-deps
	scripts/install-deps
	scripts/dev-venv $(PYTHON) $(VENV)
	touch $@

build: $(DEPS)
	$(PY) -m pip install -q --no-build-isolation --no-deps .

test: build
	mkdir -p build
	g++ -std=c++20 -O2 -ffp-contract=off -Isrc -o build/test_physics_core tests/cpp/test_world.cpp \
	    $(filter-out src/physics/bind.cpp,$(wildcard src/physics/*.cpp)) src/common/format.cpp \
	    src/common/interrupt.cpp src/common/seed.cpp -ltbb \
	    tests/cpp/main.cpp tests/cpp/test_binding.cpp $(wildcard src/module/*.cpp) \
	    $$($(PY) -c 'import sysconfig as s; v = s.get_config_var; print("-I" + s.get_paths()["include"], "-L" + v("LIBDIR"), "-Wl,-rpath," + v("LIBDIR"), "-lpython" + v("LDVERSION"))')
	build/test_physics_core
	$(PY) -m mypy.stubtest _core --concise
	$(PY) -m pytest -q tests

demo: build
	$(PY) examples/demo.py

bench: build
	$(PY) bench/run.py

# The whole suite against a build with AddressSanitizer and UBSan.
test-asan: $(DEPS)
	PYTHON=$(PYTHON) scripts/test-asan

# The suite on every other supported Python the machine has.
test-pythons: $(DEPS)
	scripts/test-pythons

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
	scripts/dev-venv $(PYTHON) .venv-docs requirements-docs.txt
	NO_MKDOCS_2_WARNING=1 .venv-docs/bin/mkdocs build --strict --quiet
	.venv-docs/bin/python scripts/check-docs site

clean:
	rm -rf build dist
