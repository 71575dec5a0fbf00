# The Debian package (scripts/pack BUILD OUT deb): the program, the systemd
# unit, README, a gzipped manual page, the licence as a machine-readable copyright file, a
# changelog and lintian's override for the static program, as Debian's
# policy wants them. These files go only into the package; `cmake --install`
# and the tar.gz keep the plain manual page and LICENSE. The package's
# control file is written by dpkg-gencontrol from debian/control below, and
# the package built by dpkg-deb.

set(debian_dir "${PROJECT_BINARY_DIR}/debian")
# Dates come from SOURCE_DATE_EPOCH where it is set (scripts/release: the
# last commit's time), so a rebuild gives the same package; otherwise today.
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
# The package description: the summary, then the text as Debian's control
# format wants it (lines begun with a blank, an empty line as " .").
string(REGEX REPLACE "\n\n" "\n.\n" debian_description "${LEAPCHECK_DESCRIPTION}")
string(REGEX REPLACE "\n" "\n " debian_description "${debian_description}")
file(WRITE "${debian_dir}/control"
"Source: leapcheck
Section: utils
Priority: optional
Maintainer: ${LEAPCHECK_MAINTAINER}

Package: leapcheck
Architecture: any
Description: ${LEAPCHECK_SUMMARY}
 ${debian_description}
")
# Lintian takes a static-pie program for a shared library that names no
# library it needs (it has no interpreter and no NEEDED entry).
file(WRITE "${debian_dir}/lintian-overrides"
"# Linked statically (static-pie) on purpose: the program then needs nothing
# from the C library of the release it is installed on, so one package
# installs and runs on every Debian and Ubuntu release still in use.
leapcheck: shared-library-lacks-prerequisites [usr/bin/leapcheck]
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

# The gzipped manual page goes into the .rpm too.
install(FILES "${debian_dir}/leapcheck.1.gz"
  DESTINATION "${CMAKE_INSTALL_MANDIR}/man1" COMPONENT manual_gz EXCLUDE_FROM_ALL)
install(FILES "${debian_dir}/copyright" "${debian_dir}/changelog.gz"
  DESTINATION "${CMAKE_INSTALL_DOCDIR}" COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES "${debian_dir}/lintian-overrides"
  DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides" RENAME leapcheck
  COMPONENT debian EXCLUDE_FROM_ALL)

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(LEAPCHECK_DEBIAN_ARCHITECTURE amd64)
elseif(CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
  set(LEAPCHECK_DEBIAN_ARCHITECTURE arm64)
endif()
