# fptool, the host tool that records, stamps, checks and pads fingerprint
# files; the Windows tree runs it to make the sample game's modules.
add_library(fptool_core STATIC "${PROJECT_SOURCE_DIR}/tools/fptool_core.cpp"
            "${PROJECT_SOURCE_DIR}/tools/fptool_delta.cpp")
target_include_directories(fptool_core PUBLIC "${PROJECT_SOURCE_DIR}")
target_link_libraries(fptool_core PUBLIC updater_logic pe_resources)

add_executable(fptool "${PROJECT_SOURCE_DIR}/tools/fptool.cpp")
target_link_libraries(fptool PRIVATE fptool_core)

add_executable(fptool_tests "${PROJECT_SOURCE_DIR}/tests/unit/fptool_test.cpp")
target_link_libraries(fptool_tests PRIVATE fptool_core GTest::gtest_main)
add_test(NAME fptool_tests COMMAND fptool_tests)

# The tool as the build uses it: a refused stamp leaves the file as it was,
# and pad then record agree on the checksum asked for.
add_test(NAME fptool_cli
         COMMAND "${CMAKE_COMMAND}" -DFPTOOL=$<TARGET_FILE:fptool> -DWORK=${CMAKE_CURRENT_BINARY_DIR}/fptool_cli
                 -P "${PROJECT_SOURCE_DIR}/tools/cmake/fptool_cli_test.cmake")

# The sample game the Windows tree built: both versions verify, and the new
# one, the default payload, has exactly the figures the documentation gives.
if(NOT WINDOWS_BUILD_DIR STREQUAL "")
  add_test(NAME sample_game_figures
           COMMAND "${CMAKE_COMMAND}" -DFPTOOL=$<TARGET_FILE:fptool> -DSAMPLE=${WINDOWS_BUILD_DIR}/sample
                   -P "${PROJECT_SOURCE_DIR}/sample/check_figures.cmake")
endif()

# The same figures by a checksum that shares no code with the updater: the
# check above recomputes what fptool's padding solved for with the updater's
# own checksum, so only this one can find a fault in it.
if(NOT WINDOWS_BUILD_DIR STREQUAL "")
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME sample_game_figures_independent
           COMMAND "${Python3_EXECUTABLE}" "${PROJECT_SOURCE_DIR}/sample/check_figures_independent.py"
                   "${WINDOWS_BUILD_DIR}/sample")
endif()

# The Windows build checks its payload with the tool before embedding it.
if(NOT WINDOWS_BUILD_DIR STREQUAL "")
  add_test(NAME build_refuses_mismatched_payload
           COMMAND "${CMAKE_COMMAND}" -DSOURCE=${PROJECT_SOURCE_DIR} -DFPTOOL=$<TARGET_FILE:fptool>
                   -DSAMPLE=${WINDOWS_BUILD_DIR}/sample -DWORK=${CMAKE_CURRENT_BINARY_DIR}/payload_check
                   -P "${PROJECT_SOURCE_DIR}/tests/build/payload_check.cmake")
endif()
