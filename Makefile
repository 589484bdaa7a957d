# SPDX-License-Identifier: BSD-2-Clause
# Front door for a fresh Debian machine: every target installs the package groups it needs
# (scripts/install-deps.sh) and configures its tree from a preset of CMakePresets.json; the
# trees' directories may be moved with BUILD=... and the like.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
WEB_BUILD  ?= build-web
WIN_BUILD  ?= build-win32
DEB_BUILD  ?= build-deb
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?=
JOBS       ?= $(shell nproc)
PREFIX     ?= /usr/local
CMAKE_FLAGS ?=
ifeq ($(CI),true)
CMAKE_FLAGS += -DVARNIC_WARNINGS_AS_ERRORS=ON
endif

# $(call deps,GROUP...): install the groups' missing packages.
deps = bash scripts/install-deps.sh $(1)

.PHONY: all deps configure build test demo run bench bench-peers bench-batch bench-identity bench-threads bench-smoke bench-python bench-thumbnail bench-png viewer-screenshot test-sanitize fuzz \
        fuzz-smoke install clean web test-web win-configure windows test-windows windows-installer test-windows-installer deb test-deb

all: build

deps:
	$(call deps,base)

configure: deps
	cmake --preset release -B $(BUILD) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --preset release --test-dir $(BUILD) -j $(JOBS)

demo: build
	bash scripts/demo.sh $(BUILD)

run: build
	bash scripts/run.sh $(BUILD)

# Comparison with the peer codecs; needs a Release varnic-cli. Writes bench/results/; not part
# of `make test`.
bench: configure
	$(call deps,peers)
	cmake --build $(BUILD) -j $(JOBS) --target varnic-cli
	/usr/bin/python3 bench/compare --build $(BUILD) --out bench/results --work $(BUILD)/bench-work

# varnic-cli against the HTJ2K, WebP, JPEG and JPEG 2000 tools at matched file sizes: CPU time,
# peak memory and bytes per pixel at 1, 4 and 16 megapixels, two threads against one, and a tiny
# file declaring a huge picture, and the web page in headless Chromium at 4 and 38 megapixels. Writes
# bench/results/peers.*; minutes, not part of `make test`.
bench-peers: configure web web/node_modules/.installed
	$(call deps,peers)
	cmake --build $(BUILD) -j $(JOBS) --target varnic-cli
	/usr/bin/python3 bench/peers --cli $(BUILD)/cli/varnic-cli --out bench/results --page $(WEB_BUILD)/page

# Throughput of 2,000 small pictures: one varnic-cli with -j 2 against GNU parallel. Writes
# bench/results/batch.md; a minute or two, not part of `make test`.
bench-batch: configure
	$(call deps,peers)
	cmake --build $(BUILD) -j $(JOBS) --target varnic-cli
	/usr/bin/python3 bench/batch --cli $(BUILD)/cli/varnic-cli

# Two threads against one: whole varnic-cli processes on a 4096x4096 colour photo, encode and
# decode, with the old binary beside it if THREADS_FLAGS has --baseline OLD/varnic-cli; --busy keeps
# one core half busy meanwhile. Appends to bench/results/threads.md; a minute, not part of `make test`.
THREADS_FLAGS ?=
bench-threads: configure
	$(call deps,peers)
	cmake --build $(BUILD) -j $(JOBS) --target varnic-cli
	/usr/bin/python3 bench/threads --cli $(BUILD)/cli/varnic-cli $(THREADS_FLAGS)

# Bit-for-bit proof for changes to the codec's speed or memory: the hashes of 4096x4096 encodes and
# decodes at q10/50/90 must equal IDENTITY_EXPECT's (made by bench/identity --out from the
# binary before the change).
IDENTITY_EXPECT ?= bench/results/identity.txt
bench-identity: configure
	$(call deps,peers)
	cmake --build $(BUILD) -j $(JOBS) --target varnic-cli
	/usr/bin/python3 bench/identity --cli $(BUILD)/cli/varnic-cli --expect $(IDENTITY_EXPECT)

# The same path on one small picture in seconds; results stay in the build directory.
bench-smoke: configure
	$(call deps,peers)
	cmake --build $(BUILD) -j $(JOBS) --target varnic-cli
	/usr/bin/python3 bench/compare_test.py
	/usr/bin/python3 bench/compare --smoke --build $(BUILD) --out $(BUILD)/bench-smoke \
	  --work $(BUILD)/bench-smoke/work

# The Python package against varnic-cli on a 4096x4096 picture, two threads against one, and the
# Dask engine on 2,000 small pictures; writes bench/results/python.md. Not part of CI.
bench-python: configure
	cmake --build $(BUILD) -j $(JOBS) --target varnic-cli varnic_c
	VARNIC_LIBRARY=$(CURDIR)/$(BUILD)/api/libvarnic.so /usr/bin/python3 bench/python --cli $(BUILD)/cli/varnic-cli \
	  --batch --out bench/results/python.md

# Thumbnail time of a 4096x4096 file through the installed gdk-pixbuf loader; not part of CI.
bench-thumbnail: build
	bash bench/thumbnail $(BUILD)

# varnic-cli decompress of a 4096x4096 photo into a bitmap and into PNG at every --png-level, and
# the libpng settings the default level was chosen from; writes bench/results/png_output.md in a
# quarter of an hour. Not part of CI.
bench-png: configure
	cmake --build $(BUILD) -j $(JOBS) --target varnic-cli
	/usr/bin/python3 bench/png_output --cli $(BUILD)/cli/varnic-cli

# Screenshot of a .cod file in Debian's image viewer under Xvfb (installs the viewer first).
viewer-screenshot: build
	$(call deps,screenshot)
	bash scripts/viewer-screenshot.sh $(BUILD)

# The install test links a plain program against the instrumented library, which ASan refuses to
# load that way; make test covers it.
test-sanitize: deps
	cmake --preset asan-ubsan -B $(ASAN_BUILD) $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ctest --preset asan-ubsan --test-dir $(ASAN_BUILD) -j $(JOBS) -E '^varnic_install_package$$'

# make fuzz FUZZ_SECONDS=600 [FUZZ_TARGETS="cod_decode bmp_read"]: new inputs stay in $(FUZZ_BUILD)/corpus
# (scripts/fuzz.sh merge adds them to fuzz/corpus); fuzz-smoke is CI's 30 s per target over the corpus,
# with seed 1 (scripts/fuzz.sh smoke DIR 300 covers the same mutations and more).
fuzz: deps
	$(call deps,fuzz)
	bash scripts/fuzz.sh build $(FUZZ_BUILD)
	bash scripts/fuzz.sh run $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

fuzz-smoke: deps
	$(call deps,fuzz)
	bash scripts/fuzz.sh build $(FUZZ_BUILD)
	bash scripts/fuzz.sh smoke $(FUZZ_BUILD) 30

# The web page: the library in WebAssembly and the static files, in $(WEB_BUILD)/page/ (the `web`
# preset); serve that folder with any static file server.
web:
	$(call deps,base web)
	cmake --preset web -B $(WEB_BUILD) $(CMAKE_FLAGS)
	cmake --build $(WEB_BUILD) -j $(JOBS)

# The page in headless Chromium against a local server, checked against varnic-cli.
test-web: build web web/node_modules/.installed
	VARNIC_CLI=$(CURDIR)/$(BUILD)/cli/varnic-cli WEB_BUILD=$(CURDIR)/$(WEB_BUILD) node --test web/test/web.test.mjs

# The test driver's npm packages, exactly as locked; reinstalled only when the lock changes.
web/node_modules/.installed: web/package-lock.json
	cd web && npm ci --no-audit --no-fund
	touch $@

# 32-bit Windows programs, cross-built with MinGW-w64 into $(WIN_BUILD): varnic.exe, varnic-cli.exe
# and varnic-win32.zip. test-windows builds the suites for Windows as well and runs them under
# Wine (a private prefix in $(WIN_BUILD), Xvfb started and stopped by the script).
win-configure:
	$(call deps,base windows)
	cmake --preset mingw -B $(WIN_BUILD) $(CMAKE_FLAGS)

windows: win-configure
	cmake --build $(WIN_BUILD) -j $(JOBS) --target varnic_desktop varnic-cli varnic_win32_zip

test-windows: win-configure
	cmake --build $(WIN_BUILD) -j $(JOBS)
	bash scripts/wine-tests.sh $(WIN_BUILD) -E '^win32_installer$$'

# varnic-$(VERSION)-setup.exe (NSIS) from the Windows build's files, and its test under Wine:
# silent install, association, Start menu, PATH, a .cod file opened through the shell, uninstall.
windows-installer: win-configure
	$(call deps,installer)
	cmake $(WIN_BUILD) > /dev/null
	cmake --build $(WIN_BUILD) -j $(JOBS) --target varnic_installer

test-windows-installer: windows-installer
	cmake --build $(WIN_BUILD) -j $(JOBS) --target varnic_win32_find_window
	bash scripts/wine-tests.sh $(WIN_BUILD) -R '^win32_installer$$'

# The tree is configured for PREFIX, so that an install to /usr puts the library in the multiarch
# directory and leaves no run path in the programs (DESTDIR=... stages it elsewhere).
install: configure
	cmake $(BUILD) -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	cmake --build $(BUILD) -j $(JOBS)
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(WEB_BUILD) $(WIN_BUILD) $(DEB_BUILD)

# Debian packages from packaging/debian (dpkg-buildpackage, debhelper) in $(DEB_BUILD)/, checked by
# lintian; test-deb installs them on this machine, uses them, and purges them.
deb:
	$(call deps,base deb)
	JOBS=$(JOBS) bash packaging/build-deb.sh $(DEB_BUILD)

test-deb: build deb
	bash packaging/test-deb.sh $(BUILD) $(DEB_BUILD)
