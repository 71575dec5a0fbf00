# The Debian package (CPack's DEB generator, `cmake --workflow --preset
# release-deb`): the program, README, a gzipped manual page, the licence as a
# machine-readable copyright file and a changelog, as Debian's policy wants
# them. These files go only into the package; `cmake --install` and the
# tar.gz keep the plain manual page and LICENSE.

set(debian_dir "${PROJECT_BINARY_DIR}/debian")
# The changelog's date: string(TIMESTAMP) takes SOURCE_DATE_EPOCH where it is
# set (scripts/release: the last commit's time), so a rebuild gives the same
# package; otherwise today.
string(TIMESTAMP release_date "%a, %d %b %Y 00:00:00 +0000" UTC)
set(LEAPCHECK_MAINTAINER "leapcheck authors <leapcheck@example.org>")
file(READ LICENSE licence)
string(REGEX REPLACE "^MIT License\n\nCopyright \\(c\\) [^\n]*\n\n" ""
  licence_terms "${licence}")
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" copyright_line "${licence}")
set(copyright_holders "${CMAKE_MATCH_1}")
string(REGEX REPLACE "\n\n" "\n.\n" licence_terms "${licence_terms}")
string(REGEX REPLACE "\n([^\n])" "\n \\1" licence_terms "${licence_terms}")
file(WRITE "${debian_dir}/copyright"
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: leapcheck

Files: *
Copyright: ${copyright_holders}
License: Expat
 ${licence_terms}")
file(WRITE "${debian_dir}/changelog"
"leapcheck (${PROJECT_VERSION}) unstable; urgency=medium

  * Release ${PROJECT_VERSION}.

 -- ${LEAPCHECK_MAINTAINER}  ${release_date}
")
set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY
  CMAKE_CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/LICENSE")

# gzip -n: no name or time stamp in the header, so the file is reproducible.
add_custom_command(
  OUTPUT "${debian_dir}/leapcheck.1.gz" "${debian_dir}/changelog.gz"
  COMMAND gzip -9nc "${PROJECT_BINARY_DIR}/leapcheck.1" > "${debian_dir}/leapcheck.1.gz"
  COMMAND gzip -9nc "${debian_dir}/changelog" > "${debian_dir}/changelog.gz"
  DEPENDS "${PROJECT_BINARY_DIR}/leapcheck.1" "${debian_dir}/changelog"
  VERBATIM)
add_custom_target(leapcheck_debian_docs ALL
  DEPENDS "${debian_dir}/leapcheck.1.gz" "${debian_dir}/changelog.gz")

install(FILES "${debian_dir}/leapcheck.1.gz"
  DESTINATION "${CMAKE_INSTALL_MANDIR}/man1" COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES "${debian_dir}/copyright" "${debian_dir}/changelog.gz"
  DESTINATION "${CMAKE_INSTALL_DOCDIR}" COMPONENT debian EXCLUDE_FROM_ALL)

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
elseif(CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
endif()
set(CPACK_DEBIAN_FILE_NAME
  "leapcheck_${PROJECT_VERSION}_${CPACK_DEBIAN_PACKAGE_ARCHITECTURE}.deb")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${LEAPCHECK_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The synopsis is CPACK_PACKAGE_DESCRIPTION_SUMMARY.
set(CPACK_PACKAGE_DESCRIPTION
"leapcheck tells whether a machine is exposed to leaps of its high-resolution
performance counter: the counter suddenly running ahead of, or behind, real
time, which upsets timeouts, measurements and anything else timed with it.
It lists the PCI devices against nine chipsets on which the counter is known
to leap and, given any argument, compares the counter with the kernel's
millisecond clock until stopped, printing the raw counter samples around
every disagreement of more than 500 ms.")
# The package holds the program's component and the Debian files, not the
# plain manual page and LICENSE of the tar.gz.
set(CPACK_PROJECT_CONFIG_FILE "${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake")
file(WRITE "${CPACK_PROJECT_CONFIG_FILE}"
"if(CPACK_GENERATOR STREQUAL \"DEB\")
  set(CPACK_INSTALL_CMAKE_PROJECTS
    \"${PROJECT_BINARY_DIR};leapcheck;program;/\"
    \"${PROJECT_BINARY_DIR};leapcheck;debian;/\")
endif()
")
