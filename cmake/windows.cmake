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

add_library(updater_logic STATIC ${UPDATER_LOGIC_SOURCES})
target_include_directories(updater_logic PUBLIC "${PROJECT_SOURCE_DIR}")
target_compile_options(updater_logic PRIVATE ${UPDATER_WARNINGS} ${UPDATER_CHARSET})

set(UPDATER_STATIC_LINK -static -static-libgcc -static-libstdc++ -mwindows
    -Wl,--major-subsystem-version,5 -Wl,--minor-subsystem-version,1
    -Wl,--major-os-version,5 -Wl,--minor-os-version,1)

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
updater_payload(UpDate "${UPDATE_PAYLOAD_FOLDER}" "${CMAKE_BINARY_DIR}/generated" UPDATE_PAYLOAD_FILES)

add_executable(UpDate WIN32
  platform/platform_win32.cpp
  platform/win32_entry.cpp
  res/updater.rc)
target_compile_options(UpDate PRIVATE ${UPDATER_WARNINGS})
target_include_directories(UpDate PRIVATE "${PROJECT_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/generated")
target_link_libraries(UpDate PRIVATE updater_logic)
# No time stamp in the header: the same inputs give the same bytes.
target_link_options(UpDate PRIVATE ${UPDATER_STATIC_LINK} -s -Wl,--no-insert-timestamp)
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
