# Quick start: `make demo` and `make test`. Both install what is missing (Debian 12, as root)
# and build in ./build; `make test SANITIZE=1` builds and tests with ASan and UBSan in
# ./build-asan, `make test SANITIZE=thread` with ThreadSanitizer in ./build-tsan.

SANITIZE ?= 0
ifeq ($(SANITIZE),1)
BUILD ?= build-asan
CMAKE_FLAGS += -DVARNO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
else ifeq ($(SANITIZE),thread)
BUILD ?= build-tsan
CMAKE_FLAGS += -DVARNO_TSAN=ON -DCMAKE_BUILD_TYPE=Debug
else
BUILD ?= build
endif
JOBS ?= $(shell nproc)

.PHONY: all deps build test demo bench clean

all: build

deps:
	@tools/install-deps.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The demo shows the build's output (kept in $(BUILD)/build.log) only when the build fails.
demo: deps
	@mkdir -p $(BUILD)
	@echo "== Building the drivers in $(BUILD)/"
	@{ $(MAKE) --no-print-directory $(BUILD)/CMakeCache.txt && cmake --build $(BUILD) -j $(JOBS); } \
		>$(BUILD)/build.log 2>&1 || { cat $(BUILD)/build.log; echo "build failed"; exit 1; }
	@tools/demo.sh $(BUILD)

# The fair benchmark table (bench/README.md): `make bench LABEL=before`, results in $(BUILD)/bench-results.
bench: build
	BUILD=$(BUILD) bench/run_all.sh $(LABEL)

clean:
	rm -rf build build-asan build-tsan
