# Thin front over CMake. `make test` and `make run` install what they need first.
PRESET ?= default
BUILD_DIR := build/$(PRESET)
JOBS ?= 2
DATA_DIR ?= $(if $(APPDATA),$(APPDATA)/Tarnwick,$(if $(XDG_DATA_HOME),$(XDG_DATA_HOME)/Tarnwick,$(HOME)/.local/share/Tarnwick))

.PHONY: deps build test run bench package format clean fuzz

deps:
	@scripts/install-deps.sh

build: deps
	cmake --preset $(PRESET)
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# Only the two programs: the tests and benchmarks are not needed to run them.
run: deps
	cmake --preset $(PRESET)
	cmake --build $(BUILD_DIR) -j $(JOBS) --target Quorvane HalvoricSvc
	@scripts/run.sh "$(BUILD_DIR)" "$(DATA_DIR)"

package: build
	cmake --build $(BUILD_DIR) --target package

bench: build
	@scripts/bench.sh "$(BUILD_DIR)"

# The fuzz targets with clang in build/fuzz, each for FUZZ_SECONDS (10 minutes by default);
# CI runs scripts/fuzz.sh with its 30 s.
FUZZ_SECONDS ?= 600
fuzz: deps
	FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/fuzz.sh

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build
