# Release files are rebuilt by others and compared byte for byte, so no path
# of the building machine may reach a binary: source and build folders are
# written as "." in __FILE__ and debug information. GCC and clang apply the
# last map that matches, and the build folder usually lies inside the source
# folder, so its map comes second.
#
# Time stamps come from SOURCE_DATE_EPOCH where it is set (scripts/release
# sets it to the last commit's time): string(TIMESTAMP) for the changelogs,
# GNU ld for the PE header's link time, scripts/pack for the files' members.
if(NOT MSVC)
  target_compile_options(leapcheck_warnings INTERFACE
    "$<$<COMPILE_LANGUAGE:CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.>"
    "$<$<COMPILE_LANGUAGE:CXX>:-ffile-prefix-map=${PROJECT_BINARY_DIR}=.>")
endif()
