# The Windows program: its manifest, a self-contained executable, and the
# tests that run it on Wine.
if(NOT WIN32)
  return()
endif()

enable_language(RC)
set(LEAPCHECK_WIN32_DIR ${PROJECT_SOURCE_DIR}/src/platform_win32)
target_sources(leapcheck PRIVATE ${LEAPCHECK_WIN32_DIR}/leapcheck.rc)
# The resource compiler does not report the manifest as a dependency.
set_source_files_properties(${LEAPCHECK_WIN32_DIR}/leapcheck.rc PROPERTIES
  OBJECT_DEPENDS ${LEAPCHECK_WIN32_DIR}/leapcheck.manifest)

if(MSVC)
  # The manifest comes from the resource script, not from the linker.
  target_link_options(leapcheck PRIVATE /MANIFEST:NO)
endif()
# MinGW (cmake/mingw-w64.cmake) links every program statically. The build
# tree's program keeps its symbols for the tests that read its code;
# packaging strips it (CPACK_STRIP_FILES, with the toolchain's strip). GNU ld
# takes the PE header's link time from SOURCE_DATE_EPOCH where it is set.

if(BUILD_TESTING)
  add_subdirectory(tests/wine)
endif()
