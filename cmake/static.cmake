# The Linux program is linked statically from Debian's glibc static
# libraries, so that it needs nothing from the distribution it runs on: no
# program interpreter, no shared library, and only the kernel that glibc's
# ABI note names (3.2 on x86-64, 3.7 on 64-bit ARM). -static-pie keeps
# address-space randomisation; Debian's compilers make position-independent
# code by default. glibc warns at link time where a static program would
# still load shared libraries at run time (the name service, dlopen), and
# --fatal-warnings turns that into a failed build. The clocks are still read
# through the vDSO, which the kernel maps into static programs too.
#
# Sanitizer runtimes need the dynamic loader: the sanitize and fuzz presets
# turn this off.
option(LEAPCHECK_STATIC "Link the Linux programs statically" ON)

# The oldest kernel that a static program runs on, as glibc's ABI note
# states it; the README names it and test static_program holds the program
# to it.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
  set(LEAPCHECK_OLDEST_KERNEL 3.7.0)
else()
  set(LEAPCHECK_OLDEST_KERNEL 3.2.0)
endif()

function(leapcheck_link_static target)
  if(LEAPCHECK_STATIC AND CMAKE_SYSTEM_NAME STREQUAL "Linux")
    target_link_options(${target} PRIVATE -static-pie -Wl,--fatal-warnings)
  endif()
endfunction()
