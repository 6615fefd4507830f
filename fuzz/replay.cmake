# Replays the committed fuzz corpus and every kept crash through each fuzz
# target in the ordinary native build, as one test per target. Included from
# cmake/native.cmake after updater_logic and platform_sim are defined.
include("${CMAKE_CURRENT_LIST_DIR}/targets.cmake")
set(FUZZ_DIR "${CMAKE_CURRENT_LIST_DIR}")

foreach(name IN LISTS FUZZ_TARGETS)
  add_executable(fuzz_replay_${name} "${FUZZ_DIR}/fuzz_${name}.cpp" "${FUZZ_DIR}/replay_main.cpp")
    target_link_libraries(fuzz_replay_${name} PRIVATE updater_logic platform_sim)
  add_test(NAME fuzz_replay_${name}
           COMMAND fuzz_replay_${name} "${FUZZ_DIR}/corpus/${name}" "${FUZZ_DIR}/regressions/${name}")
endforeach()
