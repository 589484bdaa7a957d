# SPDX-License-Identifier: BSD-2-Clause
# The fuzz targets and the libraries each needs. Included by fuzz/ (libFuzzer or plain-runner
# executables) and by tests/fuzz/ (corpus replay in the normal suite). A target whose libraries are
# not part of this build is left out rather than failing the configure.
set(VARNIC_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})

# name -> libraries; the source is fuzz/<name>_fuzzer.cpp, the seeds fuzz/corpus/<name>/
set(VARNIC_FUZZ_LIBS_cod_decode   varnic)
set(VARNIC_FUZZ_LIBS_cod_reduce   varnic_display)
set(VARNIC_FUZZ_LIBS_cod_v23      varnic_display)
set(VARNIC_FUZZ_LIBS_bmp_read     varnic_imagefile)
set(VARNIC_FUZZ_LIBS_tga_read     varnic_imagefile)
set(VARNIC_FUZZ_LIBS_png_read     varnic_imagefile)
set(VARNIC_FUZZ_LIBS_pnm_read     varnic_imagefile)
set(VARNIC_FUZZ_LIBS_jpeg_read    varnic_imagefile)
set(VARNIC_FUZZ_LIBS_tiff_read    varnic_imagefile)
set(VARNIC_FUZZ_LIBS_webp_read    varnic_imagefile)
set(VARNIC_FUZZ_LIBS_arith_decode varnic_codec)
set(VARNIC_FUZZ_LIBS_round_trip   varnic_codec varnic_decoder varnic_display)
set(VARNIC_FUZZ_LIBS_pixbuf_load  varnic_pixbuf_cod)
set(VARNIC_FUZZ_ALL cod_decode cod_reduce cod_v23 bmp_read tga_read png_read pnm_read jpeg_read tiff_read webp_read
                    arith_decode round_trip pixbuf_load)
# The photograph readers exist only where their libraries do (not in the Windows cross build).
if(WIN32)
  list(REMOVE_ITEM VARNIC_FUZZ_ALL jpeg_read tiff_read webp_read)
endif()

# varnic_fuzz_available(<out>): the targets whose source and libraries exist in this build.
function(varnic_fuzz_available out)
  set(found)
  foreach(name ${VARNIC_FUZZ_ALL})
    set(ok TRUE)
    if(NOT EXISTS ${VARNIC_FUZZ_DIR}/${name}_fuzzer.cpp)
      set(ok FALSE)
    endif()
    foreach(lib ${VARNIC_FUZZ_LIBS_${name}})
      if(NOT TARGET ${lib})
        set(ok FALSE)
      endif()
    endforeach()
    if(ok)
      list(APPEND found ${name})
    endif()
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()
