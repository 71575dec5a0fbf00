# The Debian package (scripts/pack BUILD OUT deb): the program, the systemd
# unit, README, a gzipped manual page, the licence as a machine-readable
# copyright file, a changelog and lintian's override for the static program,
# as Debian's policy wants them. These files go only into the package;
# `cmake --install` and the tar.gz keep the plain manual page and LICENSE.
# The source files are in packaging/debian/; here they get the version, the
# date, the description and the licence's terms. The package's control file
# is written by dpkg-gencontrol from debian/control, and the package built by
# dpkg-deb.

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
string(STRIP "${licence_terms}" licence_terms)
# The package description: the summary, then the text as Debian's control
# format wants it (lines begun with a blank, an empty line as " .").
string(REGEX REPLACE "\n\n" "\n.\n" debian_description "${LEAPCHECK_DESCRIPTION}")
string(REGEX REPLACE "\n" "\n " debian_description "${debian_description}")
foreach(file control changelog copyright)
  configure_file(packaging/debian/${file}.in "${debian_dir}/${file}" @ONLY)
endforeach()
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
install(FILES packaging/debian/lintian-overrides
  DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides" RENAME leapcheck
  COMPONENT debian EXCLUDE_FROM_ALL)

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(LEAPCHECK_DEBIAN_ARCHITECTURE amd64)
elseif(CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
  set(LEAPCHECK_DEBIAN_ARCHITECTURE arm64)
endif()
