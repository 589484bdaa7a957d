# SPDX-License-Identifier: BSD-2-Clause
# A module shows the modules above it its public headers only. They are linked into a folder of
# the module's own in the build tree, and that folder is all a user of the module gets on its
# include path; the module's sources see their own folder whole. So a layer that includes a
# header another module keeps to itself fails to compile instead of growing a hidden dependency.
# Tests, fuzzers and benchmarks look inside every module (their folders add the source root).
#
#   varnic_module(TARGET [PUBLIC_HEADERS header...])
#
# Headers are named relative to the calling folder, and are included as "FOLDER/header" with
# FOLDER the calling folder relative to the source root (e.g. "platform/qt/qt_platform.h").
function(varnic_module target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "PUBLIC_HEADERS")
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  set(root ${CMAKE_BINARY_DIR}/module-headers/${target})
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${root}/public/${folder})
  foreach(header IN LISTS arg_PUBLIC_HEADERS)
    if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${header})
      message(FATAL_ERROR "${target}: public header ${header} does not exist")
    endif()
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR}/${header} ${root}/public/${folder}/${header} SYMBOLIC)
  endforeach()
  get_filename_component(parent ${root}/own/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/own/${folder} SYMBOLIC)
  target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${root}/public> PRIVATE ${root}/own)
endfunction()
