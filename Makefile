# Thin wrapper over CMake. `make demo` tries the tool against the simulated sensor,
# `make test` builds and runs every test suite.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps configure build test demo clean

all: build

deps:
	@sh scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j$(JOBS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure

demo: build
	$(BUILD)/tools/demo/zelvik-demo

clean:
	rm -rf $(BUILD)
