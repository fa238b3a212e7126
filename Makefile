# Two commands do everything on a fresh Debian 12 machine:
#   make run    install what is missing, build, start the logger in ./run
#               (on simulated instruments unless run/comports.map is yours)
#   make test   install what is missing, build, run every test
BUILD ?= build
RUNDIR ?= run
JOBS ?= $(shell nproc)

# Debian packages the build and the tests need.
PACKAGES = cmake make g++ qt6-base-dev libgl-dev googletest libgtest-dev libgmock-dev \
           libbenchmark-dev faketime pkg-config libmicrohttpd-dev libsystemd-dev nettle-dev \
           nlohmann-json3-dev python3 prometheus chromium systemd

# What cross-building for Windows, its Qt (make windows-qt), its installer
# (make windows-package) and running its tests under wine on an X display of
# their own need (make windows-test).
PACKAGES += g++-mingw-w64-x86-64-posix wine wine64 socat ninja-build patch xz-utils nsis \
            xvfb xdotool x11-apps netpbm

# What making and checking the Debian package needs besides (make package).
PACKAGE_TOOLS = dpkg-dev file lintian

SUDO = $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps build run test bench clean package package-deps package-test windows-test \
        windows-qt windows-package

all: build

deps: WANTED = $(PACKAGES)
package-deps: WANTED = $(PACKAGE_TOOLS)
deps package-deps:
	@missing=$$(for p in $(WANTED); do \
	    dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; \
	  done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:" $$missing; \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $$missing \
	  || { $(SUDO) apt-get update && \
	       $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $$missing; }; \
	fi

$(BUILD)/Makefile: CMakeLists.txt | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/Makefile
	cmake --build $(BUILD) -j $(JOBS)

# The logger writes coms.cfg and its day directories into the directory it is
# started from: here ./run, which git ignores. It runs on simulated instruments
# unless run/comports.map is one you wrote for your devices (see the README).
run: build
	@tools/make-run.sh $(BUILD) $(RUNDIR)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# engine_bench times the engine's paths; acq_bench runs the real logger on 18
# pseudo-terminals for a minute at 115200 and at 921600 baud (about 2.5 min);
# feed_bench serves the same to TCP clients on 127.0.0.1, the logger beside
# ser2net when it is installed (about 5 min), then with misbehaving clients
# (about 1.5 min).
bench: build
	$(BUILD)/engine_bench
	$(BUILD)/acq_bench
	$(BUILD)/feed_bench
	$(BUILD)/feed_bench --abuse

clean:
	rm -rf $(BUILD) $(BUILD)-windows

# Qt 6.4.2 for Windows, built once from Debian's qt6-base source into
# ~/.cache/vornacq4 (an hour or more on two cores), or unpacked from
# VORN_QT_WINDOWS_ARCHIVE=FILE.tar.xz (tools/windows-qt.sh).
windows-qt: deps
	tools/windows-qt.sh

# The logger for Windows cross-built with mingw-w64 and that Qt into
# build-windows: the folder that runs on Windows as it stands
# (build-windows/vornacq4) and its installer
# (build-windows/vornacq4-VERSION-setup.exe); then its tests under wine, in a
# wine prefix made for the run: the half without a window, and the windowed
# program end to end, which wine_tests of the Linux build drives
# (tools/windows-test.sh).
windows-test: build
	VORN_LINUX_BUILD=$(BUILD) tools/windows-test.sh $(BUILD)-windows

windows-package: deps
	tools/windows-test.sh $(BUILD)-windows --package-only
	@ls $(BUILD)-windows/vornacq4-*-setup.exe

# The Debian package build/vornacq4_VERSION_amd64.deb (README, "Installing on
# a station"), made afresh by CPack and refused when lintian finds an error.
# Whoever builds it answers for it: its Maintainer is DEBFULLNAME and DEBEMAIL,
# as Debian's own tools take them, else git's identity; with neither, make
# stops before anything is built.
ifneq ($(filter package,$(MAKECMDGOALS)),)
PACKAGE_MAINTAINER := $(shell packaging/maintainer.sh)
ifeq ($(PACKAGE_MAINTAINER),)
$(error no package maintainer: set DEBFULLNAME and DEBEMAIL (or git's user.name and user.email))
endif
endif
package: export VORN_MAINTAINER = $(PACKAGE_MAINTAINER)
package: build package-deps
	rm -f $(BUILD)/vornacq4_*.deb
	cmake -S . -B $(BUILD) "-DVORN_MAINTAINER=$$VORN_MAINTAINER" >/dev/null
	cmake --build $(BUILD) -j $(JOBS) --target package_files
	cd $(BUILD) && cpack -G DEB
	lintian --fail-on error $(BUILD)/vornacq4_*.deb

# Installs that package on this machine, tries it and purges it again: root
# only, and never where vornacq4 is installed already (tools/package-test.sh).
package-test:
	@if [ "$$(id -u)" != 0 ]; then \
	  echo "package-test: skipped: it installs and purges a package, which needs root"; \
	else $(MAKE) package && tools/package-test.sh $(BUILD); fi

# Randomized hostile inputs to the readers of coms.cfg, comports.map, the
# panel resource and the arrival-time index (vornacq4-when's reader), under
# AddressSanitizer and UndefinedBehaviorSanitizer, in a build directory of
# their own (see the README).
ASAN_BUILD ?= build-asan
SANITIZE = -fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all -fno-omit-frame-pointer
.PHONY: hostile
hostile: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORN_BUILD_TESTS=OFF \
	  -DCMAKE_CXX_FLAGS="$(SANITIZE)" -DCMAKE_EXE_LINKER_FLAGS="$(SANITIZE)"
	cmake --build $(ASAN_BUILD) -j $(JOBS) --target hostile_inputs
	QT_QPA_PLATFORM=offscreen $(ASAN_BUILD)/hostile_inputs --count 10000
