# The native unit tests: the logic over the simulated platform.
file(GLOB UNIT_TEST_SOURCES CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/tests/unit/*_test.cpp")
# The tool's tests link the tool's own library and run on their own.
list(FILTER UNIT_TEST_SOURCES EXCLUDE REGEX "fptool_test\\.cpp$")
add_executable(unit_tests ${UNIT_TEST_SOURCES})
target_compile_options(unit_tests PRIVATE ${UPDATER_CHARSET})
target_link_libraries(unit_tests PRIVATE updater_logic platform_sim zstd_encode GTest::gtest_main Threads::Threads)

include(GoogleTest)
# The tests that check the sample game's real files and the built
# UpDate.exe read them from the Windows tree.
# A test that needs a target the installation's check does not read runs
# only over the build below, which has one: here it would be counted as run.
gtest_discover_tests(unit_tests PROPERTIES ENVIRONMENT "UPDATER_WINDOWS_BUILD_DIR=${WINDOWS_BUILD_DIR}" DISCOVERY_TIMEOUT 30
                     TEST_FILTER "-RecoveryFaults.AnUnfinishedJournalKeepsItsOldCopiesFromTheNextSwitch")

# The every-operation, recovery, payload-hash and links tests once more, over a
# build that adds a file and merges an entry list: the same logic compiled
# with that build's constants.
set(ADDED_FILE_BUILD_DIR "${CMAKE_BINARY_DIR}/generated-added-file")
set(added_file_slice)
if(NOT UPDATE_FLUSH_SLICE_BYTES STREQUAL "")
  set(added_file_slice --flush-slice "${UPDATE_FLUSH_SLICE_BYTES}")
endif()
execute_process(COMMAND "${Python3_EXECUTABLE}" "${PROJECT_SOURCE_DIR}/tools/update_description.py" generate
                        "${PROJECT_SOURCE_DIR}/tests/unit/added_file_build.ini" --out-dir "${ADDED_FILE_BUILD_DIR}"
                        --constants-only ${added_file_slice}
                RESULT_VARIABLE status ERROR_VARIABLE problems)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "tests/unit/added_file_build.ini has problems:\n${problems}")
endif()
set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             "${PROJECT_SOURCE_DIR}/tests/unit/added_file_build.ini")
set(LOGIC_WITHOUT_CONSTANTS ${UPDATER_LOGIC_SOURCES})
list(FILTER LOGIC_WITHOUT_CONSTANTS EXCLUDE REGEX "/generated/update_build\\.cpp$")
add_library(updater_logic_added_file STATIC ${LOGIC_WITHOUT_CONSTANTS} "${ADDED_FILE_BUILD_DIR}/update_build.cpp")
target_include_directories(updater_logic_added_file PUBLIC "${PROJECT_SOURCE_DIR}")
target_compile_options(updater_logic_added_file PRIVATE ${UPDATER_CHARSET})
target_link_libraries(updater_logic_added_file PUBLIC zstd_decode)
add_executable(unit_tests_added_file "${PROJECT_SOURCE_DIR}/tests/unit/every_file_operation_test.cpp"
               "${PROJECT_SOURCE_DIR}/tests/unit/payload_hashes_test.cpp"
               "${PROJECT_SOURCE_DIR}/tests/unit/recovery_fault_test.cpp"
               "${PROJECT_SOURCE_DIR}/tests/unit/links_test.cpp")
target_compile_options(unit_tests_added_file PRIVATE ${UPDATER_CHARSET})
target_link_libraries(unit_tests_added_file PRIVATE updater_logic_added_file platform_sim zstd_encode
                      GTest::gtest_main Threads::Threads)
gtest_discover_tests(unit_tests_added_file TEST_PREFIX "AddedFileBuild."
                     PROPERTIES ENVIRONMENT "UPDATER_WINDOWS_BUILD_DIR=${WINDOWS_BUILD_DIR}" DISCOVERY_TIMEOUT 30)
