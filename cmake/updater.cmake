# One definition of an UpDate.exe build, for the shipped program and for the
# demonstration's large-payload one:
#   add_updater(TARGET PAYLOAD_DIR GENERATED_DIR OUTPUT_DIR [EXCLUDE_FROM_ALL])
# embeds the payload under PAYLOAD_DIR (checked by updater_payload) and puts
# UpDate.exe in OUTPUT_DIR.
set(UPDATER_GUI_LINK -mwindows
    -Wl,--major-subsystem-version,5 -Wl,--minor-subsystem-version,1
    -Wl,--major-os-version,5 -Wl,--minor-os-version,1)

# The real platform backend, for UpDate.exe and the probes that run its code.
set(UPDATER_WIN32_PLATFORM_SOURCES "${PROJECT_SOURCE_DIR}/platform/platform_win32.cpp"
    "${PROJECT_SOURCE_DIR}/platform/emulated_processor_win32.cpp")

function(add_updater target payload_dir generated_dir output_dir)
  updater_payload(${target} "${payload_dir}" "${generated_dir}" payload_files)
  # A script of its own per build, so that each is rebuilt when its payload changes.
  set(script "${generated_dir}/updater_${target}.rc")
  file(WRITE "${script}" "#include \"res/updater.rc\"\n")
  set_source_files_properties("${script}" PROPERTIES OBJECT_DEPENDS
    "${${target}_payload_checked};${PROJECT_SOURCE_DIR}/res/updater.rc;${PROJECT_SOURCE_DIR}/res/update.manifest;${PROJECT_SOURCE_DIR}/res/version.h;${PROJECT_SOURCE_DIR}/ui/progress_window.rc;${PROJECT_SOURCE_DIR}/ui/resource_ids.h")
  add_executable(${target} WIN32 ${ARGN}
    ${UPDATER_WIN32_PLATFORM_SOURCES}
    "${PROJECT_SOURCE_DIR}/platform/file_view_win32.cpp"
    "${PROJECT_SOURCE_DIR}/app/main_win32.cpp"
    "${script}")
  target_include_directories(${target} PRIVATE "${PROJECT_SOURCE_DIR}" "${generated_dir}")
  target_link_libraries(${target} PRIVATE updater_logic)
  # No time stamp in the header: the same inputs give the same bytes.
  target_link_options(${target} PRIVATE ${UPDATER_GUI_LINK} -s -Wl,--no-insert-timestamp)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME UpDate RUNTIME_OUTPUT_DIRECTORY "${output_dir}")
endfunction()
