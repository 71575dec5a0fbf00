# Allocation counting, real leaps provoked on the real program, and the soak.

# Its own program: it replaces the allocation functions of the whole process.
add_executable(leapcheck_no_heap_test
  ${CMAKE_CURRENT_SOURCE_DIR}/no_heap_test.cpp)
target_link_libraries(leapcheck_no_heap_test PRIVATE
  ${LEAPCHECK_ON_FAKE} GTest::gtest GTest::gtest_main)
# The replaced delete frees what the replaced new took from malloc.
target_compile_options(leapcheck_no_heap_test PRIVATE
  $<$<CXX_COMPILER_ID:GNU>:-Wno-mismatched-new-delete>)
add_test(NAME no_heap COMMAND leapcheck_no_heap_test)

# Both time the real program, which means nothing under an emulator.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND NOT CMAKE_CROSSCOMPILING)
  # Reports provoked by stopping the real program for a second at a time.
  add_test(NAME real_leaps
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/real_leaps.sh $<TARGET_FILE:leapcheck>)
  set_tests_properties(real_leaps PROPERTIES LABELS e2e TIMEOUT 120 RUN_SERIAL ON)

  # The same reports through the documented `| ts ... >> leaps.txt` line.
  add_test(NAME timestamps
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/timestamps_test.sh $<TARGET_FILE:leapcheck>)
  set_tests_properties(timestamps PROPERTIES LABELS e2e TIMEOUT 120 RUN_SERIAL ON
    SKIP_RETURN_CODE 77)

  # A minute under full load without a report; `ctest -LE soak` leaves it out.
  add_test(NAME soak
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/soak.sh $<TARGET_FILE:leapcheck> 60)
  set_tests_properties(soak PROPERTIES LABELS soak TIMEOUT 180 RUN_SERIAL ON)
endif()
