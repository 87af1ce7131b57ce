# Thin wrapper over CMake. `make demo` tries the tool against the simulated sensor,
# `make test` builds and runs every test suite.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps configure build test demo soak bench lint fuzz sanitize package clean

all: build

deps:
	@sh scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j$(JOBS)

# Suites run two at a time; those that measure time or run the soak run alone (RUN_SERIAL).
test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2

demo: build
	$(BUILD)/tools/demo/zelvik-demo

# Long soak of the window against a faulty simulated sensor.
soak: build
	sh scripts/soak.sh $(BUILD)

# Start-up, memory, response time and idle cost, side by side with a bare Qt program. The script
# builds only the programs it measures.
bench: configure
	sh scripts/bench.sh $(BUILD)

# clang-tidy and cppcheck over the project's own code.
lint: configure
	sh scripts/lint.sh $(BUILD)

# libFuzzer targets (clang), each for FUZZ_SECONDS.
fuzz: deps
	sh scripts/fuzz.sh

# The whole test suite under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize: deps
	sh scripts/sanitize.sh

# A Debian package of the tool and the simulated sensor.
package: build
	cmake --build $(BUILD) --target package

clean:
	rm -rf $(BUILD)
