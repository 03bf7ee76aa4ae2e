# Two commands for a new user: `make run` and `make test`.
BUILD_DIR ?= build
DEB_BUILD_DIR ?= build-deb
BUILD_TYPE ?= RelWithDebInfo
CMAKE_FLAGS ?=
JOBS ?= 2
PREFIX ?= /usr/local

.PHONY: all build run test test-sanitize install deb bench fuzz clean

all: build

build:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Installs what is missing (scripts/install-deps), builds, runs the tool on
# the sample pair shipped in sample/, in run-output/, and ends with
# quicklook pictures of the sample (scripts/quicklooks).
run:
	@scripts/install-deps run
	@$(MAKE) --no-print-directory build
	@rm -rf run-output && mkdir -p run-output
	cd run-output && ../$(BUILD_DIR)/quellmar ../sample/d02123a.spc
	@echo "--- written in run-output/:"
	@ls -l run-output
	@scripts/quicklooks $(BUILD_DIR) run-output

test:
	@scripts/install-deps test
	@$(MAKE) --no-print-directory build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# Installs the programs, manual pages, docs and the Python package under
# PREFIX (default /usr/local), staged under DESTDIR when it is given.
install:
	@scripts/install-deps run
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DCMAKE_INSTALL_PREFIX=$(PREFIX) $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j $(JOBS)
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR)

# The Debian package $(BUILD_DIR)/quellmar_<version>_<arch>.deb, for /usr;
# every program in it (the optional packages are needed here). Built in its
# own folder, $(DEB_BUILD_DIR), without the test suite: only what the
# package holds is compiled.
deb:
	@scripts/install-deps deb
	cmake -S . -B $(DEB_BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_TESTING=OFF $(CMAKE_FLAGS)
	cmake --build $(DEB_BUILD_DIR) -j $(JOBS)
	rm -f $(DEB_BUILD_DIR)/quellmar_*.deb $(BUILD_DIR)/quellmar_*.deb
	cd $(DEB_BUILD_DIR) && cpack -G DEB
	mkdir -p $(BUILD_DIR) && mv $(DEB_BUILD_DIR)/quellmar_*.deb $(BUILD_DIR)/
	@ls $(BUILD_DIR)/quellmar_*.deb

# The whole suite built with AddressSanitizer and UndefinedBehaviorSanitizer
# (clang); any report fails the run.
test-sanitize:
	CC=clang CXX=clang++ cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DQUELLMAR_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build build-sanitize -j $(JOBS)
	cd build-sanitize && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

# Throughput benchmark (Release build, generated input outside the repo).
bench:
	bench/run.sh

# libFuzzer targets (clang), built in build-fuzz/.
fuzz:
	fuzz/build.sh

clean:
	rm -rf $(BUILD_DIR) $(DEB_BUILD_DIR) build-sanitize run-output
