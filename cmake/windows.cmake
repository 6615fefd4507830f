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
    "Folder holding the payload files in place of the description's; empty: the description's own (for the sample description, the sample game's new version this tree builds)")

# Every Windows program and library carries its runtime: nothing to install
# beside it under Wine or on a player's machine.
add_link_options(-static -static-libgcc -static-libstdc++)
# The same sources give the same bytes in any folder at any time: no time
# stamp in any header, and every library at a fixed base, which the linker
# would otherwise derive from the output's path.
add_link_options(-Wl,--no-insert-timestamp)
# Every program may use addresses above 2 GiB: 4 GiB of room on the 64-bit
# Windows most players have (and under an i386 emulator, where little room
# is left below 2 GiB), the same 2 GiB as before on 32-bit Windows.
add_link_options(-Wl,--large-address-aware)
set(UPDATER_FIXED_DLL_LINK "-Wl,--image-base,0x10000000 -Wl,--no-insert-timestamp")
string(APPEND CMAKE_SHARED_LINKER_FLAGS " ${UPDATER_FIXED_DLL_LINK}")

# ---- UpDate.exe ----
# The payload's files and folder come from the description; the sample
# description's payload is the sample game this tree builds.
get_filename_component(description "${UPDATE_DESCRIPTION}" ABSOLUTE)
set(payload_from_sample FALSE)
if(NOT UPDATE_PAYLOAD_DIR STREQUAL "")
  get_filename_component(payload_dir "${UPDATE_PAYLOAD_DIR}" ABSOLUTE)
  update_description("${CMAKE_BINARY_DIR}/generated" PAYLOAD "${payload_dir}")
elseif(description STREQUAL "${PROJECT_SOURCE_DIR}/sample/update.ini")
  set(payload_from_sample TRUE)
  update_description("${CMAKE_BINARY_DIR}/generated" PAYLOAD_LATER "${CMAKE_BINARY_DIR}/sample/new")
else()
  update_description("${CMAKE_BINARY_DIR}/generated" PAYLOAD)
endif()
include(cmake/payload.cmake)
include(cmake/updater.cmake)
add_updater(UpDate "${UPDATE_PAYLOAD_FOLDER}" "${CMAKE_BINARY_DIR}/generated" "${CMAKE_BINARY_DIR}/bin")

# Sample game (old and new versions) and the helpers of the end-to-end tests.
include(sample/sample.cmake)
include(tests/watcher/watcher.cmake)
include(cmake/demo.cmake)
include(bench/bench_windows.cmake)
if(payload_from_sample AND TARGET sample_game)
  add_dependencies(UpDate sample_game)
  compressed_sample_updater()
  add_dependencies(UpDateZstd sample_game)
endif()
