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

add_library(updater_logic STATIC ${UPDATER_LOGIC_SOURCES})
target_include_directories(updater_logic PUBLIC "${PROJECT_SOURCE_DIR}")
target_compile_options(updater_logic PRIVATE ${UPDATER_WARNINGS} ${UPDATER_CHARSET})

set(UPDATER_STATIC_LINK -static -static-libgcc -static-libstdc++ -mwindows
    -Wl,--major-subsystem-version,5 -Wl,--minor-subsystem-version,1
    -Wl,--major-os-version,5 -Wl,--minor-os-version,1)

# ---- UpDate.exe ----
set(UPDATE_PAYLOAD_ENTRIES "LMH.exe;dll/RESOURCE.dll" CACHE STRING
    "The payload files under the payload folder, as the build's payload table lists them")
set(UPDATE_GAME_EXECUTABLE "LMH.exe" CACHE STRING "The game executable that the fingerprint module has a record of")
include(cmake/payload.cmake)

if(UPDATE_PAYLOAD_DIR STREQUAL "")
  set(payload_dir "${CMAKE_BINARY_DIR}/sample/new")
  set(payload_from_sample TRUE)
else()
  get_filename_component(payload_dir "${UPDATE_PAYLOAD_DIR}" ABSOLUTE)
  set(payload_from_sample FALSE)
endif()
updater_payload(UpDate "${payload_dir}" "${CMAKE_BINARY_DIR}/generated" UPDATE_PAYLOAD_FILES)
if(NOT payload_from_sample)
  foreach(f IN LISTS UPDATE_PAYLOAD_FILES)
    if(NOT EXISTS "${f}")
      message(FATAL_ERROR "Payload file missing: ${f}\n"
                          "UPDATE_PAYLOAD_DIR must hold: ${UPDATE_PAYLOAD_ENTRIES}")
    endif()
  endforeach()
endif()

add_executable(UpDate WIN32
  platform/platform_win32.cpp
  platform/win32_entry.cpp
  res/updater.rc)
target_compile_options(UpDate PRIVATE ${UPDATER_WARNINGS})
target_include_directories(UpDate PRIVATE "${PROJECT_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/generated")
target_link_libraries(UpDate PRIVATE updater_logic)
target_link_options(UpDate PRIVATE ${UPDATER_STATIC_LINK} -s)
set_source_files_properties(res/updater.rc PROPERTIES
  OBJECT_DEPENDS "${UpDate_payload_checked};${PROJECT_SOURCE_DIR}/res/update.manifest;${PROJECT_SOURCE_DIR}/res/version.h")
set_target_properties(UpDate PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")

# Sample game (old and new versions) and the helpers of the end-to-end tests.
include(sample/sample.cmake OPTIONAL)
include(tools/watcher/watcher.cmake OPTIONAL)
include(cmake/demo.cmake)
include(bench/bench_windows.cmake)
if(payload_from_sample AND TARGET sample_game)
  add_dependencies(UpDate sample_game)
endif()
