# Thin front over CMake presets. `make demo` and `make test` do their own set-up.
JOBS ?= $(shell nproc)
PRESET ?= asan

.PHONY: all setup build test demo dev release tsan format clean

all: build

setup:
	@bash scripts/setup.sh

build: setup
	cmake --preset $(PRESET) >/dev/null
	cmake --build --preset $(PRESET) -j $(JOBS)

# Runs every test with AddressSanitizer and UndefinedBehaviorSanitizer, with
# HOME and the machine prefix pointed at an empty folder; afterwards that
# folder must still be empty (each test works in its own sandbox).
test: build
	@bash scripts/run-tests.sh build/$(PRESET)

demo: setup
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS)
	@bash scripts/demo.sh build/release

dev:
	$(MAKE) build PRESET=dev

release:
	$(MAKE) build PRESET=release

tsan:
	$(MAKE) build PRESET=tsan
	@bash scripts/run-tests.sh build/tsan -L engine

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
