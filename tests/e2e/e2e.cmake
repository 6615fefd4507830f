# The end-to-end tests: the Windows tree's UpDate.exe driven under Wine by
# watcher.exe. They share one Wine prefix under this tree, so they run one
# at a time beside the unit tests.
find_program(E2E_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(NOT E2E_PYTHON)
  find_program(E2E_PYTHON NAMES python3 REQUIRED)
endif()

set(E2E_DIR "${CMAKE_CURRENT_LIST_DIR}")
set(E2E_WORK_DIR "${CMAKE_BINARY_DIR}/e2e")

# One ctest entry per group of cases; the Wine session is started once per
# entry. The cases that need to mount a drive have an entry of their own. An
# entry with a case that could not run fails: nothing is ever skipped.
foreach(group IN ITEMS test_harness test_no_installation test_update test_verification test_faults.FaultTest
                       test_faults.InterruptedRunTest test_faults.SmallDriveTest test_security
                       test_code_page test_signed test_compressed test_deltas test_damaged_download
                       test_high_address test_profile_record test_entry_list test_many_flushes
                       test_crash)
  string(REGEX REPLACE "^test_([a-z_]+).*$" "e2e_\\1" name "${group}")
  if(group MATCHES "InterruptedRun")
    set(name e2e_interrupted_run)
  elseif(group MATCHES "SmallDrive")
    set(name e2e_small_drives)
  endif()
  add_test(NAME ${name}
           COMMAND "${E2E_PYTHON}" "${E2E_DIR}/run_e2e.py"
                   --windows-build-dir "${WINDOWS_BUILD_DIR}" --work-dir "${E2E_WORK_DIR}" ${group})
  set_tests_properties(${name} PROPERTIES RESOURCE_LOCK e2e_wine_prefix TIMEOUT 600 LABELS e2e)
endforeach()
