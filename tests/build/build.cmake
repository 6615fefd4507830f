# Tests of the update build itself: the description file's checks, and the
# same bytes from the same description in any folder.
add_test(NAME update_description
         COMMAND "${E2E_PYTHON}" "${PROJECT_SOURCE_DIR}/tests/build/update_description_test.py"
                 --source "${PROJECT_SOURCE_DIR}" --fptool $<TARGET_FILE:fptool>
                 --work "${CMAKE_CURRENT_BINARY_DIR}/update_description")
if(NOT WINDOWS_BUILD_DIR STREQUAL "")
  add_test(NAME make_update_reproducible
           COMMAND "${E2E_PYTHON}" "${PROJECT_SOURCE_DIR}/tests/build/reproducible_test.py"
                   --source "${PROJECT_SOURCE_DIR}" --fptool $<TARGET_FILE:fptool>
                   --windows-build-dir "${WINDOWS_BUILD_DIR}" --work "${CMAKE_CURRENT_BINARY_DIR}/reproducible")
  set_tests_properties(make_update_reproducible PROPERTIES TIMEOUT 900)
endif()
# The floors of the README's table hold: no include runs up, across or in a circle.
add_test(NAME floor_check
         COMMAND "${E2E_PYTHON}" "${PROJECT_SOURCE_DIR}/tests/build/floor_check.py" --source "${PROJECT_SOURCE_DIR}")
