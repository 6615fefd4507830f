# zstd's reference decoder, built from Debian's source package that
# tools/setup.sh fetches into a cache outside the repository. Only the
# decompression sources: no assembly, no threads, no legacy formats, no
# dictionary builder. Defines the static library zstd_decode (its headers for
# base/zstd_stream.cpp alone) and ZSTD_DECODER_VERSION.
set(ZSTD_SOURCE_DIR "" CACHE PATH "zstd's unpacked source package; empty: the one tools/setup.sh fetched")
if(ZSTD_SOURCE_DIR STREQUAL "")
  set(zstd_deps "$ENV{UPDATER_DEPS_DIR}")
  if(zstd_deps STREQUAL "")
    set(zstd_deps /var/cache/updater-deps)
  endif()
  file(GLOB zstd_found LIST_DIRECTORIES true "${zstd_deps}/zstd-*")
  list(SORT zstd_found)
  if(zstd_found)
    list(POP_BACK zstd_found zstd_dir)
    set(ZSTD_SOURCE_DIR "${zstd_dir}" CACHE PATH "zstd's unpacked source package" FORCE)
  endif()
endif()
set(zstd_lib "${ZSTD_SOURCE_DIR}/lib")
if(NOT EXISTS "${zstd_lib}/zstd.h")
  message(FATAL_ERROR "zstd's source is missing (ZSTD_SOURCE_DIR='${ZSTD_SOURCE_DIR}'); run tools/setup.sh")
endif()

file(STRINGS "${zstd_lib}/zstd.h" zstd_version_lines REGEX "^#define ZSTD_VERSION_(MAJOR|MINOR|RELEASE) +[0-9]+")
set(ZSTD_DECODER_VERSION "")
foreach(line IN LISTS zstd_version_lines)
  string(REGEX REPLACE ".* ([0-9]+)$" "\\1" number "${line}")
  list(APPEND ZSTD_DECODER_VERSION "${number}")
endforeach()
list(JOIN ZSTD_DECODER_VERSION "." ZSTD_DECODER_VERSION)

add_library(zstd_decode STATIC
  "${zstd_lib}/common/debug.c"
  "${zstd_lib}/common/entropy_common.c"
  "${zstd_lib}/common/error_private.c"
  "${zstd_lib}/common/fse_decompress.c"
  "${zstd_lib}/common/xxhash.c"
  "${zstd_lib}/common/zstd_common.c"
  "${zstd_lib}/decompress/huf_decompress.c"
  "${zstd_lib}/decompress/zstd_ddict.c"
  "${zstd_lib}/decompress/zstd_decompress.c"
  "${zstd_lib}/decompress/zstd_decompress_block.c"
)
# The same decoder in every tree: the C sources never see the assembly
# decoder, old formats or threads. Error texts are not needed: the wrapper
# turns codes into its own failure kinds.
set(ZSTD_DECODE_DEFINITIONS ZSTD_DISABLE_ASM ZSTD_LEGACY_SUPPORT=0 ZSTD_STRIP_ERROR_STRINGS)
target_compile_definitions(zstd_decode PUBLIC ${ZSTD_DECODE_DEFINITIONS})
target_include_directories(zstd_decode SYSTEM PUBLIC "${zstd_lib}")
# Not our code: its warnings are not ours to fix.
target_compile_options(zstd_decode PRIVATE -w)
set_target_properties(zstd_decode PROPERTIES POSITION_INDEPENDENT_CODE ON)

# The native tree's tests make their frames with the same library's encoder
# (never linked into the updater).
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Windows" AND NOT ZSTD_DECODER_ONLY)
  file(GLOB zstd_encode_sources "${zstd_lib}/compress/*.c")
  list(FILTER zstd_encode_sources EXCLUDE REGEX "zstdmt_compress\\.c$")
  add_library(zstd_encode STATIC ${zstd_encode_sources})
  target_link_libraries(zstd_encode PUBLIC zstd_decode)
  target_compile_options(zstd_encode PRIVATE -w)
  set_target_properties(zstd_encode PROPERTIES POSITION_INDEPENDENT_CODE ON)
endif()
