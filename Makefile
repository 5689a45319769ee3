# The two commands of the README are `make demo` and `make test`.
# Each installs what a fresh machine lacks, configures with CMake and Ninja, then builds.

PACKAGES := cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev \
            libbenchmark-dev qt6-base-dev libpng-dev fonts-liberation fonts-nanum \
            imagemagick \
            cups-ipp-utils pkg-config patch libcups2-dev libavahi-client-dev libgnutls28-dev \
            libjpeg-dev libpam0g-dev libusb-1.0-0-dev zlib1g-dev libpoppler-cpp-dev \
            cups-daemon cups-client chromium clang-format
JOBS ?= 2
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: deps demo test build-test format format-check bench fuzz package check-package clean

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	fi

# Prints a sample receipt and a sample label through the driver into the emulator, and
# one label over IPP through the printer application.
demo: deps
	cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DQX_TESTS=OFF
	cmake --build build/demo -j $(JOBS) --target qx-print qx-emulator qx-printer-app QX470 QX250
	tools/demo/demo.sh

build/test/build.ninja: CMakeLists.txt
	cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQX_SANITIZE=ON

build-test: deps build/test/build.ninja
	cmake --build build/test -j $(JOBS)

test: format-check build-test
	ctest --test-dir build/test -j $(JOBS) --output-on-failure --timeout 300

# Every C and C++ file of the repository as .clang-format lays it out: `make format`
# applies it, `make format-check` (part of `make test`) fails on any difference.
SOURCES = $(shell git ls-files '*.c' '*.cpp' '*.h' 2>/dev/null || \
             find . -path ./build -prune -o \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) -print)
format: deps
	clang-format -i $(SOURCES)
format-check: deps
	clang-format --dry-run -Werror $(SOURCES)

# The benchmarks measure peers side by side: ImageMagick's dither, compress -b12, and
# LPrint beside the printer application.
bench: deps
	@for p in imagemagick ncompress lprint; do \
	  dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || \
	  { $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$p; }; \
	done
	cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQX_BENCH=ON
	cmake --build build/release -j $(JOBS)
	@for b in build/release/bin/bench_*; do [ -x "$$b" ] && "$$b" --benchmark_min_time=0.5; done

# libFuzzer targets need clang; they are not part of the test run.
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQX_FUZZ=ON -DQX_TESTS=OFF
	cmake --build build/fuzz -j $(JOBS) --target hive_fuzz emulator_decoder_fuzz mono_image_fuzz
	@echo "run: build/fuzz/bin/hive_fuzz CORPUS_DIR, build/fuzz/bin/emulator_decoder_fuzz CORPUS_DIR,"
	@echo "     build/fuzz/bin/mono_image_fuzz CORPUS_DIR"

# The Debian package of a release build, left in this folder: qx-printing_<version>_<arch>.deb,
# built with Debian's hardening flags and refused when lintian finds an error or warning.
# dpkg-shlibdeps (dpkg-dev) and file find the libraries it depends on.
PACKAGE_TOOLS := dpkg-dev file lintian desktop-file-utils systemd man-db
HARDENING := DEB_BUILD_MAINT_OPTIONS=hardening=+all
package: deps
	@missing=""; for p in $(PACKAGE_TOOLS); do \
	  dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	fi
	cmake -S . -B build/package -G Ninja -DCMAKE_BUILD_TYPE=Release -DQX_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr \
	  -DCMAKE_C_FLAGS="$$($(HARDENING) dpkg-buildflags --get CPPFLAGS) $$($(HARDENING) dpkg-buildflags --get CFLAGS)" \
	  -DCMAKE_CXX_FLAGS="$$($(HARDENING) dpkg-buildflags --get CPPFLAGS) $$($(HARDENING) dpkg-buildflags --get CXXFLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$$($(HARDENING) dpkg-buildflags --get LDFLAGS)" \
	  -DCMAKE_SHARED_LINKER_FLAGS="$$($(HARDENING) dpkg-buildflags --get LDFLAGS)" \
	  -DCMAKE_MODULE_LINKER_FLAGS="$$($(HARDENING) dpkg-buildflags --get LDFLAGS)"
	cmake --build build/package -j $(JOBS)
	rm -f build/package/qx-printing_*.deb qx-printing_*.deb
	cd build/package && cpack -G DEB
	cp build/package/qx-printing_*.deb .
	@deb=$$(ls build/package/qx-printing_*.deb); echo "$$deb: Depends: $$(dpkg-deb --field $$deb Depends)"; \
	dpkg-deb --field $$deb Depends | grep -q libqt6widgets6 || { echo "$$deb: no Qt dependency found" >&2; exit 1; }
	lintian --fail-on error,warning qx-printing_*.deb

# Before every release: the package installed into a scratch root and looked over
# (programs, manual pages, desktop entries, the systemd units).
check-package: package
	packaging/tests/check-package.sh qx-printing_*.deb

clean:
	rm -rf build
