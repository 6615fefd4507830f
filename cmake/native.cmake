# The native tree: the logic over the simulated platform, its unit tests,
# the host tools, and the end-to-end tests that drive the Windows tree's
# programs under Wine.
enable_testing()
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)

set(WINDOWS_BUILD_DIR "" CACHE PATH "The MinGW build tree whose programs the end-to-end tests run")

# The unit tests expect the sample game's constants.
update_description("${CMAKE_BINARY_DIR}/generated" CONSTANTS)
add_library(updater_logic STATIC ${UPDATER_LOGIC_SOURCES})
target_include_directories(updater_logic PUBLIC "${PROJECT_SOURCE_DIR}")
target_compile_options(updater_logic PRIVATE ${UPDATER_WARNINGS} ${UPDATER_CHARSET})

# Reads PE resources; the simulated platform and the tools share it.
add_library(pe_resources STATIC platform/pe_resources.cpp)
target_include_directories(pe_resources PUBLIC "${PROJECT_SOURCE_DIR}")
target_compile_options(pe_resources PRIVATE ${UPDATER_WARNINGS})

add_library(platform_sim STATIC platform/platform_sim.cpp platform/profile_text.cpp)
target_include_directories(platform_sim PUBLIC "${PROJECT_SOURCE_DIR}")
target_compile_options(platform_sim PRIVATE ${UPDATER_WARNINGS} ${UPDATER_CHARSET})
target_link_libraries(platform_sim PUBLIC pe_resources)

set(CMAKE_RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")

include(tests/unit/unit.cmake)
include(fuzz/replay.cmake)
include(tools/fptool.cmake OPTIONAL)
include(tests/e2e/e2e.cmake OPTIONAL)
include(tests/build/build.cmake)
include(bench/bench.cmake)
