# Whole-program optimisation in the optimised builds. The leap test's pass
# calls the platform's clock reads, which live in another unit; only across
# units can the compiler fold them into the pass, and only then does a pass
# cost no more than its two clock reads (about 12 % more without). Debug
# builds (the sanitizers) are left as they are. The flags are spelt out
# rather than taken from CMake's IPO support, whose GCC flags clang-tidy
# rejects when it reads the compile commands. On a library they reach
# whatever links it, so every program that links the pass optimises alike.
function(leapcheck_optimise_across_units target)
  set(optimised "$<NOT:$<CONFIG:Debug>>")
  if(MSVC)
    target_compile_options(${target} PUBLIC "$<${optimised}:/GL>")
    target_link_options(${target} PUBLIC "$<${optimised}:/LTCG>")
  elseif(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PUBLIC "$<${optimised}:-flto=auto>")
    target_link_options(${target} PUBLIC "$<${optimised}:-flto=auto>")
  endif()
endfunction()
