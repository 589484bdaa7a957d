# SPDX-License-Identifier: BSD-2-Clause
# The web page's build: the library compiled to WebAssembly with Debian's emscripten (the `web`
# preset). Debian's toolchain description does the compiler set-up; this adds what every object
# of the page needs. Nothing is fetched: the emscripten system libraries used are the prebuilt ones.
set(VARNIC_EMSCRIPTEN_PLATFORM /usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake
    CACHE FILEPATH "Emscripten's own CMake toolchain description")

# Debian's emscripten runs its JavaScript tools with the machine's node, which needs Debian's node
# modules on its path: at configure time here, at build time through the launchers.
set(VARNIC_NODE_PATH /usr/share/nodejs)
set(ENV{NODE_PATH} ${VARNIC_NODE_PATH})
include(${VARNIC_EMSCRIPTEN_PLATFORM})
find_program(VARNIC_CCACHE ccache)
set(VARNIC_EMSCRIPTEN_LAUNCHER ${CMAKE_COMMAND} -E env NODE_PATH=${VARNIC_NODE_PATH})
foreach(lang C CXX)
  set(CMAKE_${lang}_COMPILER_LAUNCHER ${VARNIC_EMSCRIPTEN_LAUNCHER} ${VARNIC_CCACHE})
  set(CMAKE_${lang}_LINKER_LAUNCHER ${VARNIC_EMSCRIPTEN_LAUNCHER})
endforeach()

# SIMD128: the loops the compiler vectorises (the codec keeps its exact order of operations:
# no reassociation, no contraction, as on every platform). Native exceptions: the library catches
# std::bad_alloc, and emscripten's JavaScript exception emulation turns every call that may throw
# into a round trip through JavaScript. (Threads are the page's choice at link time: web/.)
set(CMAKE_C_FLAGS_INIT "-msimd128 -fwasm-exceptions")
set(CMAKE_CXX_FLAGS_INIT "-msimd128 -fwasm-exceptions")
