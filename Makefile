# The four entry points; each installs what is missing first.
.PHONY: deps run test bench fuzz clean

deps:
	./scripts/install-deps.sh

run: deps
	cmake --preset release
	cmake --build --preset release
	./scripts/run-demo.sh build/release

test: deps
	cmake --preset ci
	cmake --build --preset ci
	ctest --preset ci

bench: deps
	cmake --preset release
	cmake --build --preset release
	./scripts/run-bench.sh build/release

fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz
	./scripts/run-fuzz.sh build/fuzz

clean:
	rm -rf build
