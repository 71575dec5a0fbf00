# Allocation counting, real leaps provoked on the real program, and the soak.

# Its own program: it replaces the allocation functions of the whole process.
add_executable(leapcheck_no_heap_test
  ${CMAKE_CURRENT_SOURCE_DIR}/no_heap_test.cpp
  ${LEAPCHECK_SHARED_SOURCES_ABS}
  ${FAKE_PLATFORM_SOURCES})
target_include_directories(leapcheck_no_heap_test PRIVATE ${FAKE_PLATFORM_INCLUDES})
target_link_libraries(leapcheck_no_heap_test PRIVATE
  leapcheck_warnings GTest::gtest GTest::gtest_main)
# The replaced delete frees what the replaced new took from malloc.
target_compile_options(leapcheck_no_heap_test PRIVATE
  $<$<CXX_COMPILER_ID:GNU>:-Wno-mismatched-new-delete>)
add_test(NAME no_heap COMMAND leapcheck_no_heap_test)
