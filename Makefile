# The two entry points: `make demo` and `make test`. Both install what is missing first.
BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?=
ifeq ($(SANITIZE),1)
  BUILD := build-asan
  CMAKE_FLAGS += -DCMAKE_BUILD_TYPE=Debug -DKSTROKE_SANITIZE=address,undefined
endif
ifeq ($(CI),true)
  CMAKE_FLAGS += -DKSTROKE_WERROR=ON
endif

.PHONY: all deps configure build test demo bench clean

all: build

deps:
	@bash scripts/setup-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j$(JOBS) -- --no-print-directory

test: build
	@cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

demo: build
	@bash scripts/demo.sh $(BUILD)

bench: deps
	@cmake -S . -B build-bench -DKSTROKE_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
	@cmake --build build-bench -j$(JOBS)
	@bash scripts/bench.sh build-bench

clean:
	rm -rf build build-asan build-bench out
