# Thin wrapper over the CMake presets.
#   make test   configure, build and run the whole suite: first under AddressSanitizer and
#               UndefinedBehaviorSanitizer, then as an optimised build (warnings are errors in both)
#   make demo   build and run the example host (examples/demo)
#   make fuzz   build the fuzz targets with clang and run each for FUZZ_SECONDS
JOBS ?= 2
FUZZ_SECONDS ?= 60

.PHONY: test test-sanitize test-release demo fuzz bench clean

test: test-sanitize test-release

test-sanitize:
	cmake --preset sanitize
	cmake --build --preset sanitize -j $(JOBS)
	ctest --preset sanitize

test-release:
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	ctest --preset release

demo:
	cmake --preset release
	cmake --build --preset release -j $(JOBS) --target zrx_demo
	./build/release/examples/zrx_demo build/release/demo-output

fuzz:
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	FUZZ_SECONDS=$(FUZZ_SECONDS) bash fuzz/run.sh build/fuzz

bench:
	cmake --preset release
	cmake --build --preset release -j $(JOBS) --target zrx_bench
	./build/release/bench/zrx_bench

clean:
	rm -rf build
