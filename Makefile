# The two entry points: `make demo` and `make test`. Both install what is missing first.
# Also: `make test SANITIZE=1` (AddressSanitizer + UBSan, build-asan), `make bench`
# (Release, build-bench), `make fuzz` (clang + libFuzzer, build-fuzz; FUZZ_SECONDS each),
# `make tsan` (ThreadSanitizer over the threaded fill rows, build-tsan), `make python`
# (the Python module alone, in place in python/).
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

FUZZ_SECONDS ?= 60
FUZZ_TARGETS := shape_chunks stroke_doc render_doc image_png image_tiff image_exr image_jpeg studio_message
# Largest input per target: libFuzzer's default is the largest seed, which would keep
# the stroke loader from ever seeing the deep nesting or long strings hostile files have.
# The image readers get 64 KiB, and so do runs of studio messages.
FUZZ_MAX_LEN_shape_chunks := 65536
FUZZ_MAX_LEN_stroke_doc := 262144
FUZZ_MAX_LEN_render_doc := 262144
FUZZ_MAX_LEN_image := 65536

PREFIX ?= /usr/local

.PHONY: all deps configure build test demo install docs python bench fuzz tsan clean

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

# The libraries, their headers, CMake package and pkg-config files, and the program.
install: build
	@cmake --install $(BUILD) --prefix $(PREFIX)

# The reference of the public headers, docs/api/index.html. Fails on any warning.
docs: deps
	@rm -rf docs/api && mkdir -p docs/api
	@{ cat docs/Doxyfile; echo "OUTPUT_DIRECTORY = docs/api"; } | doxygen - \
	  && echo "docs/api/index.html"

# The Python module in place: python/kstroke.cpython-*.so, so that
# `PYTHONPATH=python /usr/bin/python3 -c "import kstroke"` works from the checkout.
python: configure
	@cmake --build $(BUILD) -j$(JOBS) --target kstroke_python -- --no-print-directory

bench: deps
	@cmake -S . -B build-bench -DKSTROKE_BENCH=ON -DBUILD_TESTING=OFF -DKSTROKE_PYTHON=OFF >/dev/null
	@cmake --build build-bench -j$(JOBS)
	@bash scripts/bench.sh build-bench

# Each target runs FUZZ_SECONDS from the committed seeds (read only) plus what earlier
# runs found (build-fuzz/corpus); a crash leaves its input in build-fuzz/crashes/.
fuzz: deps
	@cmake -S . -B build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKSTROKE_FUZZ=ON -DKSTROKE_SANITIZE=address,undefined \
	  -DBUILD_TESTING=OFF >/dev/null
	@cmake --build build-fuzz -j$(JOBS) --target $(addprefix fuzz_,$(FUZZ_TARGETS))
	@mkdir -p build-fuzz/crashes
	@set -e; for t in $(FUZZ_TARGETS); do \
	  mkdir -p build-fuzz/corpus/$$t; \
	  echo "fuzz_$$t: $(FUZZ_SECONDS) s"; \
	  case $$t in shape_chunks) len=$(FUZZ_MAX_LEN_shape_chunks);; stroke_doc) len=$(FUZZ_MAX_LEN_stroke_doc);; \
	    render_doc) len=$(FUZZ_MAX_LEN_render_doc);; \
	    *) len=$(FUZZ_MAX_LEN_image);; esac; \
	  build-fuzz/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -max_len=$$len -rss_limit_mb=3072 \
	    -print_final_stats=1 \
	    -artifact_prefix=build-fuzz/crashes/$$t- build-fuzz/corpus/$$t fuzz/corpus/$$t \
	    2>build-fuzz/fuzz_$$t.log || { tail -40 build-fuzz/fuzz_$$t.log; exit 1; }; \
	  grep -E '^stat::number_of_executed_units|^stat::new_units_added' build-fuzz/fuzz_$$t.log; \
	done

# ThreadSanitizer over the fill source's threaded row loop and over renders on two
# threads at once (not in CI: one more full engine build). oneTBB itself is not
# instrumented, so the check covers our rows.
tsan: deps
	@cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKSTROKE_SANITIZE=thread >/dev/null
	@cmake --build build-tsan -j$(JOBS) --target test_sources test_render test_frame
	@TSAN_OPTIONS=halt_on_error=1 build-tsan/test_sources \
	  --gtest_filter='FillThreadedRows.*:FillSource.AreasEitherSideOfTheThreadingThresholdGiveIdenticalPixels'
	@TSAN_OPTIONS=halt_on_error=1 build-tsan/test_render \
	  --gtest_filter='Renderer.RendersOnTwoThreadsMatchTheSameRendersInTurn'
	@TSAN_OPTIONS=halt_on_error=1 build-tsan/test_frame \
	  --gtest_filter='Errors.EachThreadKeepsItsOwnLastReport'

clean:
	rm -rf build build-asan build-bench build-fuzz build-tsan out python/kstroke*.so
