# The native tree: the logic over the simulated platform, its unit tests,
# the host tools, and the end-to-end tests that drive the Windows tree's
# programs under Wine.
enable_testing()
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)

set(WINDOWS_BUILD_DIR "" CACHE PATH "The MinGW build tree whose programs the end-to-end tests run")

# The unit tests expect the sample game's constants, and a flush slice
# (128 KiB) that the sample's game executable spans twice, so that its
# slices are among the operations the fault tables fail and cut off.
set(UPDATE_FLUSH_SLICE_BYTES 131072)
update_description("${CMAKE_BINARY_DIR}/generated" CONSTANTS)

# Reads PE resources; the simulated platform and the tools share it.
add_library(pe_resources STATIC base/pe_resources.cpp)
target_include_directories(pe_resources PUBLIC "${PROJECT_SOURCE_DIR}")

add_library(platform_sim STATIC
  platform/sim/sim_core.cpp
  platform/sim/sim_file_table.cpp
  platform/sim/sim_durable.cpp
  platform/sim/sim_process.cpp
  platform/sim/sim_windows.cpp
  platform/sim/sim_texts.cpp
  platform/sim/sim_message_boxes.cpp
  platform/sim/sim_memory.cpp
  platform/sim/sim_files.cpp
  platform/sim/sim_handles.cpp
  platform/sim/sim_profile.cpp
  platform/sim/profile_text.cpp
  platform/sim/sim_folders.cpp
  platform/sim/sim_resources.cpp
  platform/sim/file_view_sim.cpp
)
target_include_directories(platform_sim PUBLIC "${PROJECT_SOURCE_DIR}")
target_compile_options(platform_sim PRIVATE ${UPDATER_CHARSET})
target_link_libraries(platform_sim PUBLIC pe_resources)

set(CMAKE_RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")

include(tests/unit/unit.cmake)
include(fuzz/replay.cmake)
include(tools/fptool.cmake)
include(tests/e2e/e2e.cmake)
include(tests/build/build.cmake)
include(bench/bench.cmake)
