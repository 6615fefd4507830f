# The end-to-end tests: the Windows tree's UpDate.exe driven under Wine by
# watcher.exe. They share one Wine prefix under this tree, so they run one
# at a time beside the unit tests.
find_program(E2E_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(NOT E2E_PYTHON)
  find_program(E2E_PYTHON NAMES python3 REQUIRED)
endif()

set(E2E_DIR "${CMAKE_CURRENT_LIST_DIR}")
set(E2E_WORK_DIR "${CMAKE_BINARY_DIR}/e2e")

# One ctest entry per group of cases; the Wine session is started once per entry.
foreach(module IN ITEMS test_no_installation test_update test_verification test_faults test_security test_signed)
  string(REPLACE "test_" "e2e_" name "${module}")
  add_test(NAME ${name}
           COMMAND "${E2E_PYTHON}" "${E2E_DIR}/run_e2e.py"
                   --windows-build-dir "${WINDOWS_BUILD_DIR}" --work-dir "${E2E_WORK_DIR}" ${module})
  set_tests_properties(${name} PROPERTIES RESOURCE_LOCK e2e_wine_prefix TIMEOUT 600 LABELS e2e)
endforeach()
