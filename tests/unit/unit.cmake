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
gtest_discover_tests(unit_tests PROPERTIES ENVIRONMENT "UPDATER_WINDOWS_BUILD_DIR=${WINDOWS_BUILD_DIR}" DISCOVERY_TIMEOUT 30)
