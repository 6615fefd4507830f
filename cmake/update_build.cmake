# The constants of the update build come from its description file (an INI
# file a publisher writes; the sample game's is sample/update.ini).
# tools/update_description.py checks it and makes the sources at configure
# time, so a bad description stops the build before anything is compiled.
#
#   update_description(OUT_DIR MODE [PAYLOAD_DIR])
# writes OUT_DIR/update_build.cpp. MODE is CONSTANTS (nothing more), PAYLOAD
# (the payload files must exist) or PAYLOAD_LATER (the build itself makes
# them). PAYLOAD_DIR replaces the description's payload folder. The PAYLOAD
# modes set UPDATE_PAYLOAD_FOLDER, UPDATE_PAYLOAD_ENTRIES (relative, with
# '/'), UPDATE_GAME_EXECUTABLE, UPDATE_ENTRY_LIST and UPDATE_PAYLOAD_COMPRESSION
# (empty or zstd) for cmake/payload.cmake.
set(UPDATE_DESCRIPTION "${PROJECT_SOURCE_DIR}/sample/update.ini" CACHE FILEPATH
    "The description file of the update build (see sample/update.ini)")
# Left empty, the program flushes a new file every 64 MiB written
# (tools/update_description_emit.py says why).
set(UPDATE_FLUSH_SLICE_BYTES "" CACHE STRING "Bytes of a new file written between two of its flushes")
find_package(Python3 REQUIRED COMPONENTS Interpreter)

function(update_description out mode)
  get_filename_component(description "${UPDATE_DESCRIPTION}" ABSOLUTE)
  set(tool "${PROJECT_SOURCE_DIR}/tools/update_description.py")
  set(args generate "${description}" --out-dir "${out}")
  if(mode STREQUAL "CONSTANTS")
    list(APPEND args --constants-only)
  elseif(mode STREQUAL "PAYLOAD_LATER")
    list(APPEND args --payload-built-later)
  endif()
  if(ARGC GREATER 2 AND NOT ARGV2 STREQUAL "")
    list(APPEND args --payload-dir "${ARGV2}")
  endif()
  if(NOT UPDATE_FLUSH_SLICE_BYTES STREQUAL "")
    list(APPEND args --flush-slice "${UPDATE_FLUSH_SLICE_BYTES}")
  endif()
  execute_process(COMMAND "${Python3_EXECUTABLE}" "${tool}" ${args}
                  RESULT_VARIABLE status ERROR_VARIABLE problems)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "The update build's description has problems:\n${problems}")
  endif()
  # The reader's own modules count as much as the reader.
  get_filename_component(tools_dir "${tool}" DIRECTORY)
  set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${description}" "${tool}"
    "${tools_dir}/update_description_emit.py" "${tools_dir}/update_deltas.py")
  if(NOT mode STREQUAL "CONSTANTS")
    include("${out}/description.cmake")
    foreach(var IN ITEMS UPDATE_PAYLOAD_FOLDER UPDATE_PAYLOAD_ENTRIES UPDATE_GAME_EXECUTABLE UPDATE_ENTRY_LIST
                        UPDATE_PAYLOAD_COMPRESSION UPDATE_WHOLE_FILES UPDATE_DELTAS)
      set(${var} "${${var}}" PARENT_SCOPE)
    endforeach()
  endif()
endfunction()
