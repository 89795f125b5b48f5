# Thin driver around CMake. `make test` on a fresh machine installs what is
# missing, configures, builds and runs every suite.
JOBS ?= $(shell nproc)
# Seconds each fuzz target runs for in `make fuzz`.
FUZZ_SECONDS ?= 30
# Warnings stop the build (WERROR=OFF to see them and go on).
WERROR ?= ON
CMAKE_FLAGS ?=
# Suites that start threads, for `make tsan` (ctest labels are suite names).
TSAN_SUITES ?= platform|threads|kernel|halftone|placement|klvrip
TSAN_TARGETS = $(patsubst %,test_%,$(subst |, ,$(TSAN_SUITES)))

.PHONY: all deps build test asan tsan bench fuzz format format-check demo clean

all: build

deps:
	@./scripts/install-deps.sh

build: deps
	cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKLV_WERROR=$(WERROR) \
	  $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS)

test: build
	ctest --test-dir build --output-on-failure -j $(JOBS)

# The suites again under AddressSanitizer and UndefinedBehaviorSanitizer.
asan: deps
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKLV_BUILD_BENCH=OFF \
	  -DKLV_SANITIZE=address,undefined -DCMAKE_CXX_FLAGS=-O1 -DCMAKE_C_FLAGS=-O1 \
	  -DKLV_WERROR=$(WERROR) $(CMAKE_FLAGS)
	cmake --build build-asan -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir build-asan --output-on-failure -j $(JOBS) -E '^(format|install_consumer)$$'

# Suites that start threads, under ThreadSanitizer.
tsan: deps
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKLV_BUILD_BENCH=OFF \
	  -DKLV_SANITIZE=thread -DCMAKE_CXX_FLAGS=-O1 -DCMAKE_C_FLAGS=-O1 \
	  -DKLV_WERROR=$(WERROR) $(CMAKE_FLAGS)
	cmake --build build-tsan -j $(JOBS) --target $(TSAN_TARGETS)
	TSAN_OPTIONS=halt_on_error=1 \
	  ctest --test-dir build-tsan --output-on-failure -j $(JOBS) -L '^($(TSAN_SUITES))$$'

bench: deps
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKLV_BUILD_TESTS=OFF
	cmake --build build-bench -j $(JOBS)
	@for b in build-bench/bench/bench_*; do echo "== $$b"; $$b || exit 1; done

# Short runs of every fuzz target (FUZZ_SECONDS each), each starting from
# its seed corpus folder. Warnings are errors in the g++ builds above; clang's
# own set is reported here but does not stop the fuzz run.
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DKLV_BUILD_FUZZ=ON -DKLV_WERROR=OFF $(CMAKE_FLAGS)
	cmake --build build-fuzz -j $(JOBS) --target fuzz_all
	./scripts/run-fuzz.sh $(FUZZ_SECONDS)

format:
	clang-format -i $$(git ls-files '*.h' '*.c' '*.cpp' | grep -v '^tests/data/')

format-check:
	clang-format --dry-run -Werror $$(git ls-files '*.h' '*.c' '*.cpp' | grep -v '^tests/data/')

clean:
	rm -rf build build-asan build-tsan build-bench build-fuzz

# Screens the sample picture for the demo printer (720x720 dpi) with the
# built-in screens and says where the dot file is; then makes a job of it and
# processes the job into print files.
demo: build
	KLV_PATH=data ./build/tools/klvrip/klvrip screen data/samples/chart.tif build/demo-dots.tif \
	  --res 720x720 --printer KlvDemo --calibration "Linear1~Glossy Photo~720x720~4" \
	  --preview build/demo-preview.png
	@echo "demo: the screened dots (CMYK, 1 bit per ink) are in build/demo-dots.tif;"
	@echo "      build/demo-preview.png shows them as printed"
	KLV_PATH=data ./build/tools/klvrip/klvrip job new build/demo-job data/samples/chart.tif \
	  --printer KlvDemo --media "Glossy Photo" --mode "720 dpi, Screen(85 lpi)" --res 720x720 \
	  --name Demo --force
	KLV_PATH=data ./build/tools/klvrip/klvrip process build/demo-job \
	  --preview build/demo-job-preview.png
	@echo "demo: the job build/demo-job was processed into the print files listed above;"
	@echo "      build/demo-job-preview.png shows its first page as printed"
	KLV_PATH=data ./build/tools/klvrip/klvrip print build/demo-job --output build/demo-print
	@echo "demo: the job was printed to the file driver: build/demo-print/Demo.tif holds the"
	@echo "      separations it received and build/demo-print/Demo-1.png its preview"
	KLV_PATH=data ./build/tools/klvrip/klvrip print data/samples/chart.tif --printer KlvDemo \
	  --media "Glossy Photo" --mode "720 dpi, Screen(85 lpi)" --output build/demo-print
	@echo "demo: the picture itself was printed too, converted and screened as it printed:"
	@echo "      build/demo-print/chart.tif and build/demo-print/chart-1.png"
