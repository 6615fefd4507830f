# The build refuses a payload whose fingerprint module does not describe its
# game executable, and accepts one that does:
#   cmake -DSOURCE=... -DFPTOOL=... -DSAMPLE=.../sample -DWORK=... -P payload_check.cmake
function(check_payload exe module expect_ok)
  set(payload "${WORK}/payload")
  file(REMOVE_RECURSE "${WORK}")
  file(MAKE_DIRECTORY "${payload}/dll")
  file(COPY_FILE "${exe}" "${payload}/LMH.exe")
  file(COPY_FILE "${module}" "${payload}/dll/RESOURCE.dll")
  execute_process(COMMAND "${CMAKE_COMMAND}" -S "${SOURCE}" -B "${WORK}/tree"
                          "-DCMAKE_TOOLCHAIN_FILE=${SOURCE}/cmake/mingw-i686.cmake" "-DFPTOOL=${FPTOOL}"
                          "-DUPDATE_PAYLOAD_DIR=${payload}"
                  RESULT_VARIABLE configured OUTPUT_QUIET)
  if(NOT configured EQUAL 0)
    message(FATAL_ERROR "configuring with ${payload} failed")
  endif()
  execute_process(COMMAND "${CMAKE_COMMAND}" --build "${WORK}/tree" --target UpDate_payload_check
                  RESULT_VARIABLE built OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(expect_ok AND NOT built EQUAL 0)
    message(FATAL_ERROR "a matching payload was refused:\n${output}")
  elseif(NOT expect_ok AND built EQUAL 0)
    message(FATAL_ERROR "a payload whose module does not describe its game executable was accepted")
  endif()
endfunction()

check_payload("${SAMPLE}/new/LMH.exe" "${SAMPLE}/new/dll/RESOURCE.dll" TRUE)
check_payload("${SAMPLE}/old/LMH.exe" "${SAMPLE}/new/dll/RESOURCE.dll" FALSE)
file(REMOVE_RECURSE "${WORK}")
