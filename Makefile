# Set-up and everyday commands. Every target finds a CPython 3.13+ by itself,
# creates .venv and installs what it needs.

SHELL := /bin/bash
VENV := .venv
PY := $(VENV)/bin/python
PIP := $(PY) -m pip
STAMP := $(VENV)/.deps-stamp
NATIVE_BUILD := build/native
ASAN_BUILD := build/asan
JOBS ?= 2
# Make rather than Ninja: the benchmark peers include a package whose import
# name shadows the Ninja build tool's Python module.
GENERATOR := Unix Makefiles

.PHONY: all venv build demo test test-python test-example test-drf test-native native-testing-module test-asan bench fuzz clean

all: build

$(PY):
	@py=$$(scripts/find-python.sh) && echo "using $$py" && "$$py" -m venv $(VENV)
	$(PIP) install -q --upgrade pip

$(STAMP): $(PY) requirements/test.txt
	$(PIP) install -q -r requirements/test.txt
	touch $(STAMP)

venv: $(STAMP)

# Optimised release build, installed into the virtual environment. Its own
# build folder, kept between runs, apart from the one of a plain `pip install .`.
build: $(STAMP)
	CMAKE_GENERATOR="$(GENERATOR)" CMAKE_BUILD_PARALLEL_LEVEL=$(JOBS) \
	  $(PIP) install -q --no-build-isolation --no-deps --config-settings=build-dir=build/release .

demo: build
	$(PY) examples/run_demo.py

test: test-python test-example test-drf test-postgres test-native test-asan

# The example shop's own tests (Django's test runner).
test-example: build
	$(PY) examples/shop/manage.py test catalog api

test-python: build native-testing-module
	PYTHONPATH=$(NATIVE_BUILD)/testing $(PY) -m pytest tests/python

# Django REST framework's own test suite (its released sdist, fetched once
# into build/drf-suite), run as released and with zembra.rest's
# ModelSerializer, ListSerializer and JSONRenderer in DRF's place: every test
# that passes released must pass swapped, but for those listed in
# tests/drf_suite/known_differences.txt (scripts/drf-suite.sh).
test-drf: build
	PY=$(PY) scripts/drf-suite.sh

# The Django tests, the shop's tests and DRF's suite (both runs) again, on
# PostgreSQL: a throwaway cluster in a temporary directory, stopped and removed
# also when a test fails (scripts/pg-cluster.sh). Skipped with a message where the server binaries
# are missing, or with ZEMBRA_SKIP_POSTGRES=1.
.PHONY: test-postgres
test-postgres: build native-testing-module
	scripts/pg-cluster.sh run sh -c 'PYTHONPATH=$(NATIVE_BUILD)/testing $(PY) -m pytest tests/python/django_tests \
	  && SHOP_DATABASE_URL="$$ZEMBRA_TEST_DATABASE_URL" $(PY) examples/shop/manage.py test catalog api \
	  && PY=$(PY) scripts/drf-suite.sh --postgres'

# Native unit tests of the pure library, and the test-only module.
$(NATIVE_BUILD)/CMakeCache.txt: $(STAMP) CMakeLists.txt
	$(VENV)/bin/cmake -S . -B $(NATIVE_BUILD) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DZEMBRA_NATIVE_TESTS=ON -DPython_EXECUTABLE=$(abspath $(PY))

native-testing-module: $(NATIVE_BUILD)/CMakeCache.txt
	$(VENV)/bin/cmake --build $(NATIVE_BUILD) -j $(JOBS) --target _zembra_testing
	mkdir -p $(NATIVE_BUILD)/testing && cp $(NATIVE_BUILD)/_zembra_testing*.so $(NATIVE_BUILD)/testing/

test-native: $(NATIVE_BUILD)/CMakeCache.txt
	$(VENV)/bin/cmake --build $(NATIVE_BUILD) -j $(JOBS) --target native_tests
	@set -e; for t in $(NATIVE_BUILD)/*_test; do echo "== $$t"; "$$t"; done

# The extension built with AddressSanitizer and UndefinedBehaviorSanitizer,
# the whole pytest suite run against it with the sanitizer runtime preloaded.
test-asan: $(STAMP)
	$(VENV)/bin/cmake -S . -B $(ASAN_BUILD) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Debug -DZEMBRA_SANITIZE=ON \
	  -DZEMBRA_NATIVE_TESTS=ON -DPython_EXECUTABLE=$(abspath $(PY))
	$(VENV)/bin/cmake --build $(ASAN_BUILD) -j $(JOBS) --target _native _speedups _zembra_testing
	rm -rf $(ASAN_BUILD)/stage && mkdir -p $(ASAN_BUILD)/stage
	cp -r python/zembra_core python/zembra_django python/zembra $(ASAN_BUILD)/stage/
	cp $(ASAN_BUILD)/_native*.so $(ASAN_BUILD)/stage/zembra_core/
	cp $(ASAN_BUILD)/_speedups*.so $(ASAN_BUILD)/stage/zembra/
	cp $(ASAN_BUILD)/_zembra_testing*.so $(ASAN_BUILD)/stage/
	LD_PRELOAD="$$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libstdc++.so)" ZEMBRA_SANITIZED=1 \
	ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	PYTHONMALLOC=malloc PYTHONPATH=$(ASAN_BUILD)/stage ZEMBRA_EXPECT_STAGE=$(ASAN_BUILD)/stage \
	$(PY) -m pytest tests/python -p no:cacheprovider

bench: build native-testing-module
	$(PIP) install -q -r requirements/bench.txt
	$(PY) benchmarks/run_all.py
	$(MAKE) bench-stream

# A million-row export streamed through waitress on a throwaway PostgreSQL
# cluster (skipped with a message where the server binaries are missing).
.PHONY: bench-stream
bench-stream: build
	scripts/pg-cluster.sh run $(PY) benchmarks/bench_stream_export.py

fuzz:
	fuzz/run.sh

clean:
	rm -rf build _skbuild
