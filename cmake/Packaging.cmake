# Install layout and release files (scripts/pack packs them).
#
# Linux: `cmake --install` lays out bin/, share/man/man1/ and share/doc/, the
# tree of leapcheck-<version>-linux-<cpu>.tar.gz; the .deb and the .rpm hold
# the same program under /usr.
# Windows: the executable carries a version resource, and the zip holds it
# with its documents beside it, as text files with CR LF line ends so that
# any editor shows them.

include(GNUInstallDirs)

set(LEAPCHECK_SUMMARY
  "Checks a machine for leaps of the high-resolution performance counter")
set(LEAPCHECK_DESCRIPTION
"leapcheck tells whether a machine is exposed to leaps of its high-resolution
performance counter: the counter suddenly running ahead of, or behind, real
time, which upsets timeouts, measurements and anything else timed with it.
It lists the PCI devices against nine chipsets on which the counter is known
to leap and, given any argument, compares the counter with the kernel's
millisecond clock until stopped, printing the raw counter samples around
every disagreement of more than 500 ms.")

if(WIN32)
  # The version resource, from the project version padded to four numbers;
  # cmake/windows.cmake has enabled the resource compiler.
  set(LEAPCHECK_VERSION_COMMAS "")
  foreach(part MAJOR MINOR PATCH TWEAK)
    set(number "${PROJECT_VERSION_${part}}")
    if(number STREQUAL "")
      set(number 0)
    endif()
    list(APPEND LEAPCHECK_VERSION_COMMAS "${number}")
  endforeach()
  string(REPLACE ";" "," LEAPCHECK_VERSION_COMMAS "${LEAPCHECK_VERSION_COMMAS}")
  configure_file(src/platform_win32/version.rc.in version.rc @ONLY)
  target_sources(leapcheck PRIVATE "${PROJECT_BINARY_DIR}/version.rc")

  # Markdown is plain text; only the line ends change.
  function(leapcheck_dos_text source target)
    file(READ "${PROJECT_SOURCE_DIR}/${source}" text)
    string(REPLACE "\r\n" "\n" text "${text}")
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE "${PROJECT_BINARY_DIR}/${target}" "${text}")
    set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY
      CMAKE_CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/${source}")
  endfunction()
  leapcheck_dos_text(README.md README.txt)
  leapcheck_dos_text(LICENSE LICENSE.txt)
  # The manual page as plain text, for a system without man.
  leapcheck_dos_text(doc/leapcheck.txt leapcheck.txt)

  install(TARGETS leapcheck RUNTIME DESTINATION .)
  install(FILES
    "${PROJECT_BINARY_DIR}/README.txt"
    "${PROJECT_BINARY_DIR}/LICENSE.txt"
    "${PROJECT_BINARY_DIR}/leapcheck.txt"
    DESTINATION .)

  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(LEAPCHECK_PACKAGE_PLATFORM win64)
  else()
    set(LEAPCHECK_PACKAGE_PLATFORM win32)
  endif()
  set(CPACK_GENERATOR ZIP)
else()
  configure_file(doc/leapcheck.1.in leapcheck.1 @ONLY)

  # Components: the tar.gz and `cmake --install` take those not excluded
  # from all; the packages take theirs (scripts/pack, and the RPM below).
  install(TARGETS leapcheck RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}"
    COMPONENT program)
  install(FILES README.md DESTINATION "${CMAKE_INSTALL_DOCDIR}"
    COMPONENT program)
  install(FILES "${PROJECT_BINARY_DIR}/leapcheck.1"
    DESTINATION "${CMAKE_INSTALL_MANDIR}/man1" COMPONENT manual)
  install(FILES LICENSE DESTINATION "${CMAKE_INSTALL_DOCDIR}"
    COMPONENT licence)
  # The leap test as a service, in the packages only (their prefix is /usr);
  # they install it but neither enable nor start it.
  install(FILES packaging/leapcheck.service DESTINATION lib/systemd/system
    COMPONENT service EXCLUDE_FROM_ALL)

  string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}"
    LEAPCHECK_PACKAGE_PLATFORM)
  include(cmake/DebianPackage.cmake)  # component debian and manual_gz
  include(cmake/RpmPackage.cmake)
  set(CPACK_GENERATOR RPM)
  set(CPACK_INSTALL_CMAKE_PROJECTS
    "${PROJECT_BINARY_DIR};leapcheck;program;/"
    "${PROJECT_BINARY_DIR};leapcheck;manual_gz;/"
    "${PROJECT_BINARY_DIR};leapcheck;licence;/"
    "${PROJECT_BINARY_DIR};leapcheck;service;/")
endif()

set(CPACK_PACKAGE_NAME leapcheck)
set(CPACK_PACKAGE_VENDOR "the leapcheck authors")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${LEAPCHECK_SUMMARY}")
set(CPACK_PACKAGE_FILE_NAME
  "leapcheck-${PROJECT_VERSION}-${LEAPCHECK_PACKAGE_PLATFORM}")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_RESOURCE_FILE_README "${PROJECT_SOURCE_DIR}/README.md")
# A release needs no symbols or debug information; the build tree keeps them.
# The install step strips with CMAKE_STRIP, which a cross build finds beside
# its compiler (i686-w64-mingw32-strip for win32).
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")
# What scripts/pack needs to know of this build tree.
file(WRITE "${PROJECT_BINARY_DIR}/pack.env"
"LEAPCHECK_VERSION=${PROJECT_VERSION}
LEAPCHECK_ARCHIVE_NAME=${CPACK_PACKAGE_FILE_NAME}
LEAPCHECK_DEBIAN_ARCHITECTURE=${LEAPCHECK_DEBIAN_ARCHITECTURE}
")
include(CPack)

