# watcher.exe: the console program that the end-to-end tests run under Wine
# to start UpDate.exe, read its windows and answer its message boxes.
add_executable(watcher "${CMAKE_CURRENT_LIST_DIR}/watcher.cpp" "${CMAKE_CURRENT_LIST_DIR}/window_ping.cpp")
target_include_directories(watcher PRIVATE "${PROJECT_SOURCE_DIR}")
target_link_libraries(watcher PRIVATE gdi32 user32)
set_target_properties(watcher PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")

# The hook module watcher.exe places in the watched program (see watch_hook.cpp).
add_library(watch_hook SHARED "${CMAKE_CURRENT_LIST_DIR}/watch_hook.cpp")
# Undecorated export names: watcher.exe asks for "WatchCallWndProc".
target_link_options(watch_hook PRIVATE -Wl,--kill-at)
set_target_properties(watch_hook PROPERTIES PREFIX "" OUTPUT_NAME "watch_hook"
                      RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")
add_dependencies(watcher watch_hook)

# The end-to-end tests' other helpers, built with everything else; the
# demonstration builds watcher.exe alone.
add_custom_target(e2e_helpers ALL)
add_dependencies(e2e_helpers watcher)

# The library-loading tests' helpers: a careless loader (the control) and a
# library to plant beside a program under a system library's name.
add_executable(plain_loader "${CMAKE_CURRENT_LIST_DIR}/plain_loader.cpp")
target_link_libraries(plain_loader PRIVATE comctl32)
set_target_properties(plain_loader PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")

add_library(plant_mark SHARED "${CMAKE_CURRENT_LIST_DIR}/plant_mark.c")
target_include_directories(plant_mark PRIVATE "${PROJECT_SOURCE_DIR}")
# Undecorated export names, as comctl32.dll has them.
target_link_options(plant_mark PRIVATE -Wl,--kill-at)
set_target_properties(plant_mark PROPERTIES PREFIX "" OUTPUT_NAME "plant_mark"
                      RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")
add_dependencies(e2e_helpers plain_loader plant_mark)

# The fingerprint module's fallback load, as on a system before Vista: the
# Win32 backend itself, with LoadLibraryExA refusing the image-resource flag.
add_executable(old_system_loader "${CMAKE_CURRENT_LIST_DIR}/old_system_loader.cpp"
               ${UPDATER_WIN32_PLATFORM_SOURCES} "${PROJECT_SOURCE_DIR}/base/processor_brand.cpp")
target_include_directories(old_system_loader PRIVATE "${PROJECT_SOURCE_DIR}")
set_target_properties(old_system_loader PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")
add_dependencies(e2e_helpers old_system_loader)

# A message whose text is not code page 932, shown by the updater's own
# messages and Win32 backend.
add_executable(text_fallback_probe "${CMAKE_CURRENT_LIST_DIR}/text_fallback_probe.cpp"
               ${UPDATER_WIN32_PLATFORM_SOURCES})
target_link_libraries(text_fallback_probe PRIVATE updater_logic)
set_target_properties(text_fallback_probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")
add_dependencies(e2e_helpers text_fallback_probe)

# The system's own edit of a profile file, set beside the update record
# that UpDate.exe writes with its own.
add_executable(profile_probe "${CMAKE_CURRENT_LIST_DIR}/profile_probe.cpp")
set_target_properties(profile_probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")
add_dependencies(e2e_helpers profile_probe)

# A program that crashes, for the harness's own check that a crash ends it.
add_executable(crash_probe "${CMAKE_CURRENT_LIST_DIR}/crash_probe.c")
set_target_properties(crash_probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")
add_dependencies(e2e_helpers crash_probe)

# The platform backend's answer to whether QEMU makes the processor, beside
# how the probe's host process actually runs.
add_executable(processor_probe "${CMAKE_CURRENT_LIST_DIR}/processor_probe.cpp"
               "${PROJECT_SOURCE_DIR}/platform/emulated_processor_win32.cpp"
               "${PROJECT_SOURCE_DIR}/base/processor_brand.cpp")
target_include_directories(processor_probe PRIVATE "${PROJECT_SOURCE_DIR}")
set_target_properties(processor_probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")
add_dependencies(watcher processor_probe)

# A program that dies on purpose in the ways chosen by FAULT_PROBE, for the
# harness's check that no death is read as a normal end.
add_executable(fault_probe WIN32 "${CMAKE_CURRENT_LIST_DIR}/fault_probe.c")
set_target_properties(fault_probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")
add_dependencies(watcher fault_probe)

# The updater's checksum, decoding and verification code run with the space
# below 2 GiB taken. The platform's allocator and resource lookup are
# wrapped so that the probe sees every address the logic gets from them.
add_executable(high_address_probe "${CMAKE_CURRENT_LIST_DIR}/high_address_probe.cpp"
               ${UPDATER_WIN32_PLATFORM_SOURCES})
target_link_libraries(high_address_probe PRIVATE updater_logic)
target_link_options(high_address_probe PRIVATE -Wl,--wrap=_Z19PlatformAllocZeroedj
                    -Wl,--wrap=_Z20PlatformFindResourceP17PlatformModuleTag12ResourceTypePKcPPKvPj)
set_target_properties(high_address_probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")
add_dependencies(e2e_helpers high_address_probe)

# Its frames, made by the build machine's zstd as the build makes a payload's
# (cmake/payload.cmake) and a delta (cmake/deltas.cmake): the sample game's
# new LMH.exe whole, and against the old one.
find_program(HIGH_ADDRESS_ZSTD zstd REQUIRED)
set(high_address_dir "${CMAKE_BINARY_DIR}/high_address")
add_custom_command(
  OUTPUT "${high_address_dir}/LMH.exe.zst" "${high_address_dir}/LMH.exe.delta.zst"
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${high_address_dir}"
  COMMAND "${HIGH_ADDRESS_ZSTD}" -q -f -19 --zstd=wlog=23 -T1 --content-size --check --no-progress
          "${SAMPLE_DIR}/new/LMH.exe" -o "${high_address_dir}/LMH.exe.zst"
  COMMAND "${HIGH_ADDRESS_ZSTD}" -19 --single-thread -qq -f --no-progress "--patch-from=${SAMPLE_DIR}/old/LMH.exe"
          "${SAMPLE_DIR}/new/LMH.exe" -o "${high_address_dir}/LMH.exe.delta.zst"
  DEPENDS "${SAMPLE_DIR}/old/LMH.exe" "${SAMPLE_DIR}/new/LMH.exe"
  COMMENT "Frames of the high-address probe"
  VERBATIM)
add_custom_target(high_address_frames DEPENDS "${high_address_dir}/LMH.exe.zst"
                                              "${high_address_dir}/LMH.exe.delta.zst")
# The sample game's own rules make the files; this target only reads them.
add_dependencies(high_address_frames sample_game)
add_dependencies(e2e_helpers high_address_frames)
