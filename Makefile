# Each target works on a fresh Debian machine: it installs what is missing first.
PYTHON ?= python3
VENV   := .venv
PY     := $(VENV)/bin/python
DEPS   := $(VENV)/.deps-installed

.PHONY: build test demo bench deps clean

deps: $(DEPS)

$(DEPS): requirements-dev.txt scripts/install-deps
	scripts/install-deps
	test -x $(PY) || $(PYTHON) -m venv $(VENV)
	$(PY) -m pip install -q --upgrade pip
	$(PY) -m pip install -q -r requirements-dev.txt
	touch $@

build: $(DEPS)
	$(PY) -m pip install -q --no-build-isolation --no-deps .

test: build
	mkdir -p build
	g++ -std=c++20 -O2 -ffp-contract=off -Isrc -o build/test_physics_core tests/cpp/test_world.cpp \
	    $(filter-out src/physics/bind.cpp,$(wildcard src/physics/*.cpp)) src/common/format.cpp \
	    src/common/interrupt.cpp src/common/seed.cpp -ltbb
	build/test_physics_core
	$(PY) -m mypy.stubtest _core --concise
	$(PY) -m pytest -q tests

demo: build
	$(PY) examples/demo.py

bench: build
	$(PY) bench/run.py

clean:
	rm -rf build
