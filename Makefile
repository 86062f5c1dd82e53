# Thin wrapper around CMake for the everyday commands.
#   make run     install what is missing, build, and browse this project's files
#   make test    install what is missing, build with sanitizers, run every test
#   make install PREFIX=/usr/local
#   make deb     build the Debian package build/korvel_VERSION_ARCH.deb

PREFIX ?= /usr/local
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
RELEASE_DIR := build/release
TEST_DIR := build/test
FUZZ_DIR := build/fuzz
TSAN_DIR := build/tsan
DEB_DIR := build/deb

.PHONY: all bootstrap build run test tsan install deb bench fuzz clean

all: build

bootstrap:
	@sh scripts/bootstrap.sh

$(RELEASE_DIR)/build.ninja:
	cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVEL_TESTS=OFF

build: bootstrap $(RELEASE_DIR)/build.ninja
	cmake --build $(RELEASE_DIR) -j $(JOBS)

# The demo list is this project's own file listing.
run: build
	@{ git ls-files 2>/dev/null || find . -path ./build -prune -o -type f -print; } | $(RELEASE_DIR)/korvel

# Configured every time, so that a tree made before an option existed gets it.
test: bootstrap
	cmake -S . -B $(TEST_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKORVEL_SANITIZE=ON -DKORVEL_TESTS=ON -DKORVEL_WERROR=ON
	cmake --build $(TEST_DIR) -j $(JOBS)
	ctest --test-dir $(TEST_DIR) --output-on-failure -j $(JOBS)

# The tests of the code that runs threads (loading, matching, previews) under
# ThreadSanitizer.
tsan: bootstrap
	cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKORVEL_TSAN=ON -DKORVEL_TESTS=ON -DKORVEL_WERROR=ON
	cmake --build $(TSAN_DIR) -j $(JOBS) --target thread_tests
	ctest --test-dir $(TSAN_DIR) --output-on-failure -j $(JOBS) -L threads

install: bootstrap
	cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVEL_TESTS=OFF -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	cmake --build $(RELEASE_DIR) -j $(JOBS)
	cmake --install $(RELEASE_DIR)

# Built with Debian's hardening flags, installed under /usr.
deb: bootstrap
	cmake -S . -B $(DEB_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVEL_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr \
		"-DCMAKE_CXX_FLAGS=$$(dpkg-buildflags --get CXXFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
		"-DCMAKE_EXE_LINKER_FLAGS=$$(dpkg-buildflags --get LDFLAGS)"
	cmake --build $(DEB_DIR) -j $(JOBS)
	cmake --build $(DEB_DIR) --target deb

bench: build
	@sh scripts/bootstrap.sh --bench
	sh bench/run.sh

fuzz:
	@sh scripts/bootstrap.sh --fuzz
	cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DKORVEL_FUZZ=ON -DKORVEL_TESTS=OFF
	cmake --build $(FUZZ_DIR) -j $(JOBS)
	sh scripts/run-fuzzers.sh $(FUZZ_DIR)

clean:
	rm -rf build
