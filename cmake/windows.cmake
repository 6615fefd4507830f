# The Windows tree: UpDate.exe, the sample game and the helpers that the
# end-to-end tests run under Wine.
enable_language(RC)
set(CMAKE_RC_FLAGS "-c 65001")

# The host tool that makes and checks fingerprint records (tools/build.sh
# builds it in the native tree first).
if(NOT FPTOOL)
  message(FATAL_ERROR "FPTOOL must name the host fptool (build/native/bin/fptool); tools/build.sh sets it")
endif()

set(UPDATE_PAYLOAD_DIR "" CACHE PATH
    "Folder holding the payload files (LMH.exe and RESOURCE.dll); empty for the sample game's new version")

# Every Windows program and library carries its runtime: nothing to install
# beside it under Wine or on a player's machine.
add_link_options(-static -static-libgcc -static-libstdc++)

# ---- UpDate.exe ----
set(UPDATE_PAYLOAD_ENTRIES "LMH.exe;dll/RESOURCE.dll" CACHE STRING
    "The payload files under the payload folder, as the build's payload table lists them")
set(UPDATE_GAME_EXECUTABLE "LMH.exe" CACHE STRING "The game executable that the fingerprint module has a record of")
include(cmake/payload.cmake)
include(cmake/updater.cmake)

if(UPDATE_PAYLOAD_DIR STREQUAL "")
  set(payload_dir "${CMAKE_BINARY_DIR}/sample/new")
  set(payload_from_sample TRUE)
else()
  get_filename_component(payload_dir "${UPDATE_PAYLOAD_DIR}" ABSOLUTE)
  set(payload_from_sample FALSE)
endif()
if(NOT payload_from_sample)
  foreach(entry IN LISTS UPDATE_PAYLOAD_ENTRIES)
    set(f "${payload_dir}/${entry}")
    if(NOT EXISTS "${f}")
      message(FATAL_ERROR "Payload file missing: ${f}\n"
                          "UPDATE_PAYLOAD_DIR must hold: ${UPDATE_PAYLOAD_ENTRIES}")
    endif()
  endforeach()
endif()

add_updater(UpDate "${payload_dir}" "${CMAKE_BINARY_DIR}/generated" "${CMAKE_BINARY_DIR}/bin")

# Sample game (old and new versions) and the helpers of the end-to-end tests.
include(sample/sample.cmake)
include(tests/watcher/watcher.cmake)
include(cmake/demo.cmake)
include(bench/bench_windows.cmake)
if(payload_from_sample AND TARGET sample_game)
  add_dependencies(UpDate sample_game)
endif()
