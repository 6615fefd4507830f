# Checks the sample game against the figures the updater's documentation
# gives for the default payload, and that every version verifies:
#   cmake -DFPTOOL=.../fptool -DSAMPLE=.../sample -P check_figures.cmake
#
# The documentation places the module's self record at 1324 with its window
# at 1328 (0x530). The resource compiler and the linker both put resource
# data on 8-byte steps from the start of the resource section, which itself
# starts on a 512-byte step, so a record can start at 1320 or 1328 but never
# at 1324: the sample's record sits at 1320, window 1324, and every other
# figure (sizes, the module's checksum pair, the game's record) is exact.
set(game_size 393728)
set(game_record 027e8a16d49f3f5a)
set(module_size 2560)
set(record_offset 1320)
math(EXPR window_start "${record_offset} + 4")
math(EXPR window_hex "${window_start}" OUTPUT_FORMAT HEXADECIMAL)
string(REPLACE "0x" "" window_hex "${window_hex}")
set(module_pair 0001a4201e279ce7)

set(failures "")
macro(fail text)
  string(APPEND failures "\n  ${text}")
endmacro()

function(fptool_output out)
  execute_process(COMMAND "${FPTOOL}" ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE text ERROR_VARIABLE error)
  set(${out} "${text}${error}" PARENT_SCOPE)
  set(${out}_result "${result}" PARENT_SCOPE)
endfunction()

foreach(version old new)
  set(folder "${SAMPLE}/${version}")
  fptool_output(check check "${folder}/dll/RESOURCE.dll" "${folder}/LMH.exe" "${folder}/story.txt")
  if(NOT check_result EQUAL 0)
    fail("${version} does not verify:\n${check}")
  endif()
  fptool_output(record_${version} record "${folder}/LMH.exe")
endforeach()
if(record_old STREQUAL record_new)
  fail("old and new LMH.exe have the same record ${record_new}")
endif()

fptool_output(evil check "${SAMPLE}/evil/dll/RESOURCE.dll" "${SAMPLE}/old/LMH.exe" "${SAMPLE}/old/story.txt")
if(NOT evil_result EQUAL 0)
  fail("the hostile module does not verify against the old version:\n${evil}")
endif()

set(game "${SAMPLE}/new/LMH.exe")
set(module "${SAMPLE}/new/dll/RESOURCE.dll")
file(SIZE "${game}" size)
if(NOT size EQUAL game_size)
  fail("new LMH.exe has ${size} bytes, not ${game_size}")
endif()
if(NOT record_new STREQUAL "${game_record}\n")
  fail("new LMH.exe records as ${record_new}, not ${game_record}")
endif()
file(SIZE "${module}" size)
if(NOT size EQUAL module_size)
  fail("new RESOURCE.dll has ${size} bytes, not ${module_size}")
endif()
fptool_output(check check "${module}" "${game}")
set(self "self record at offset ${record_offset} (32 bytes, marker \"/**/\"), window start ${window_start} (0x${window_hex}), expected ${module_pair}, actual ${module_pair}: match")
string(FIND "${check}" "${self}" at)
if(at EQUAL -1)
  fail("new RESOURCE.dll is not as expected (${self}):\n${check}")
endif()
string(FIND "${check}" "record \"${game_record}\" reads ${game_record}, actual ${game_record}: match" at)
if(at EQUAL -1)
  fail("new RESOURCE.dll's LMH.EXE record is not ${game_record}:\n${check}")
endif()

if(failures)
  message(FATAL_ERROR "Sample game figures:${failures}")
endif()
message(STATUS "Sample game: both versions verify; the new one has the payload's figures")
