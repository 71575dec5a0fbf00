# The RPM package (scripts/pack BUILD OUT rpm: CPack's RPM generator, which
# runs rpmbuild): the program, the systemd unit with its scriptlets, the
# gzipped manual page, README and licence under /usr/share/doc/leapcheck,
# and a changelog.
# rpmbuild takes every time stamp, the build time and the build host from
# the macros below, so a rebuild gives the same bytes.

string(TIMESTAMP rpm_date "%a %b %d %Y" UTC)
file(WRITE "${PROJECT_BINARY_DIR}/rpm/changelog"
"* ${rpm_date} ${LEAPCHECK_MAINTAINER} - ${PROJECT_VERSION}-1
- Release ${PROJECT_VERSION}.
")
set(CPACK_RPM_CHANGELOG_FILE "${PROJECT_BINARY_DIR}/rpm/changelog")
set(CPACK_RPM_PACKAGE_LICENSE MIT)
set(CPACK_RPM_PACKAGE_GROUP "Applications/System")
set(CPACK_RPM_PACKAGE_RELEASE 1)
set(CPACK_RPM_PACKAGE_ARCHITECTURE "${CMAKE_SYSTEM_PROCESSOR}")
set(CPACK_RPM_PACKAGE_DESCRIPTION "${LEAPCHECK_DESCRIPTION}")
set(CPACK_RPM_FILE_NAME RPM-DEFAULT)  # leapcheck-1.0.0-1.x86_64.rpm
set(CPACK_RPM_PACKAGE_RELOCATABLE OFF)
# The program is static and needs nothing; rpmbuild's scan would still ask
# for the dynamic loader's GNU hash support, which no empty root provides.
set(CPACK_RPM_PACKAGE_AUTOREQPROV OFF)
# Folders that belong to the file system's layout, not to this package.
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
  /usr/share/man /usr/share/man/man1 /usr/lib/systemd /usr/lib/systemd/system)
set(CPACK_RPM_DEFAULT_DIR_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
  WORLD_READ WORLD_EXECUTE)
# The scriptlets the systemd RPM macros give for the unit, which rpmbuild
# cannot expand here (Debian's rpm has no systemd macros): installing does
# not enable it, removing disables and stops it.
set(CPACK_RPM_POST_INSTALL_SCRIPT_FILE "${PROJECT_SOURCE_DIR}/packaging/rpm/post")
set(CPACK_RPM_PRE_UNINSTALL_SCRIPT_FILE "${PROJECT_SOURCE_DIR}/packaging/rpm/preun")
set(CPACK_RPM_POST_UNINSTALL_SCRIPT_FILE "${PROJECT_SOURCE_DIR}/packaging/rpm/postun")
# - After the install, instead of rpmbuild's usual steps, every file is
#   dated SOURCE_DATE_EPOCH: cmake --install keeps a source file's time, and
#   rpmbuild only clamps times newer than the epoch, so a work tree's older
#   file would otherwise show. CPack has stripped the program with the
#   target's strip (the host's, which brp-strip would run, knows no other
#   architecture's files), and the manual page is gzipped.
# - No /usr/lib/.build-id links: there is no debuginfo package to match.
# - gzip payload: the rpm of RHEL 7 and SUSE 12 reads it (zstd it does not).
# - Build time, file times and build host from SOURCE_DATE_EPOCH.
set(CPACK_RPM_SPEC_MORE_DEFINE
"%define __os_install_post find %{buildroot} -exec touch -h -d @$SOURCE_DATE_EPOCH {} +
%define packager ${LEAPCHECK_MAINTAINER}
%define _build_id_links none
%define _binary_payload w9.gzdio
%define use_source_date_epoch_as_buildtime 1
%define clamp_mtime_to_source_date_epoch 1
%define _buildhost reproducible")
