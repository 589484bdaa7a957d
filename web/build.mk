# SPDX-License-Identifier: BSD-2-Clause
# Builds the web page into $(WEB_BUILD): the library and the glue compiled to WebAssembly with
# Debian's emscripten, next to the page's static files. Run from the repository root through
# `make web`. Nothing is fetched: the emscripten system libraries used are the prebuilt ones.
WEB_BUILD ?= build-web

# Debian's emscripten runs its JavaScript tools with the machine's node, which needs Debian's
# node modules on its path.
EMXX := NODE_PATH=/usr/share/nodejs em++

# varnic/version.h, written from the top CMakeLists.txt as the CMake build writes it.
cmake_value = $(shell sed -n 's/^$(1)[^0-9]*\([0-9.]*\).*/\1/p' CMakeLists.txt)
VERSION := $(call cmake_value,project.varnic VERSION)
VERSION_PARTS := $(subst ., ,$(VERSION))
VERSION_H := $(WEB_BUILD)/include/varnic/version.h

# The library's own sources; the command-line tool's comparison; the glue. Reading and writing
# files is the page's business, not the library's: the file I/O of imagefile and of the API stays
# out, and so does libpng, whose registry entry no_png.cpp replaces.
SOURCES := $(filter-out imagefile/file_io% imagefile/png% api/file_io%,$(wildcard utils/*.cpp format/*.cpp codec/*.cpp decoder/*.cpp display/*.cpp optimize/*.cpp imagefile/*.cpp api/*.cpp)) \
           cli/metrics.cpp web/glue.cpp web/ssim.cpp web/no_png.cpp
OBJECTS := $(patsubst %.cpp,$(WEB_BUILD)/obj/%.o,$(SOURCES))

# The same floating-point rules as the native build, so the .cod bytes match `varnic-cli`.
# Exceptions are caught (the library turns std::bad_alloc into a status), with the prebuilt
# JavaScript-based runtime.
CXXFLAGS := -std=c++20 -O2 -ffp-contract=off -fno-fast-math -fexceptions -Wall -Wextra \
            -I. -Iinclude -I$(WEB_BUILD)/include -Icli -Iweb -DVARNIC_BUILDING_LIBRARY
# A single-threaded worker build. Memory grows on demand up to wasm32's 4 GiB; a failed growth
# makes malloc return null, which the library reports as "out of memory" instead of aborting.
LDFLAGS := -O2 -fexceptions --bind -sMODULARIZE=1 -sEXPORT_NAME=createVarnicModule \
           -sENVIRONMENT=worker -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=32MB -sMAXIMUM_MEMORY=4GB \
           -sABORTING_MALLOC=0 -sFILESYSTEM=0

PAGE := $(patsubst web/page/%,$(WEB_BUILD)/%,$(wildcard web/page/*))

.PHONY: all
all: $(WEB_BUILD)/varnic.js $(PAGE)

$(WEB_BUILD)/varnic.js: $(OBJECTS)
	$(EMXX) $(LDFLAGS) $^ -o $@

$(VERSION_H): include/varnic/version.h.in CMakeLists.txt web/build.mk
	@mkdir -p $(dir $@)
	sed -e 's/@PROJECT_VERSION@/$(VERSION)/g' -e 's/@PROJECT_VERSION_MAJOR@/$(word 1,$(VERSION_PARTS))/' \
	    -e 's/@PROJECT_VERSION_MINOR@/$(word 2,$(VERSION_PARTS))/' -e 's/@PROJECT_VERSION_PATCH@/$(word 3,$(VERSION_PARTS))/' \
	    -e 's/@VARNIC_FORMAT_WRITTEN@/$(call cmake_value,set.VARNIC_FORMAT_WRITTEN)/g' \
	    -e 's/@VARNIC_FORMAT_OLDEST@/$(call cmake_value,set.VARNIC_FORMAT_OLDEST)/g' $< > $@

$(WEB_BUILD)/obj/%.o: %.cpp web/build.mk | $(VERSION_H)
	@mkdir -p $(dir $@)
	$(EMXX) $(CXXFLAGS) -MMD -MP -c $< -o $@

$(WEB_BUILD)/%: web/page/%
	@mkdir -p $(dir $@)
	cp $< $@

-include $(OBJECTS:.o=.d)
