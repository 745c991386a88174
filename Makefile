# Thin wrapper over the CMake presets. Each target first installs the Debian packages it needs and
# the machine lacks (scripts/packages.sh; the list is scripts/packages.txt).
#   make test   configure, build and run the whole suite: first under AddressSanitizer and
#               UndefinedBehaviorSanitizer, then as an optimised build (warnings are errors in both)
#   make demo   build and run the example host (examples/demo); needs only cmake and a compiler
#   make fuzz   build the fuzz targets with clang and run each for FUZZ_SECONDS
#   make bench  build and run the benchmarks
# DEMO_BUILD and DEMO_CMAKE_ARGS place the demo's build elsewhere and add configure options.
JOBS ?= 2
FUZZ_SECONDS ?= 60
DEMO_BUILD ?= build/demo
DEMO_CMAKE_ARGS ?=

.PHONY: test test-sanitize test-release demo fuzz bench clean packages-test packages-bench \
        packages-fuzz

test: test-sanitize test-release

packages-test packages-bench packages-fuzz:
	bash scripts/packages.sh $(patsubst packages-%,%,$@)

test-sanitize: packages-test
	cmake --preset sanitize
	cmake --build --preset sanitize -j $(JOBS)
	ctest --preset sanitize

test-release: packages-test
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	ctest --preset release

demo:
	cmake --preset demo -B $(DEMO_BUILD) $(DEMO_CMAKE_ARGS)
	cmake --build $(DEMO_BUILD) -j $(JOBS) --target zrx_demo
	$(DEMO_BUILD)/examples/zrx_demo $(DEMO_BUILD)/demo-output

fuzz: packages-fuzz
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	FUZZ_SECONDS=$(FUZZ_SECONDS) bash fuzz/run.sh build/fuzz

bench: packages-bench
	cmake --preset bench
	cmake --build --preset bench -j $(JOBS) --target zrx_bench
	./build/bench/bench/zrx_bench

clean:
	rm -rf build
