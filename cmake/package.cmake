# Debian package: `cpack -G DEB` in a build tree makes
# cardfs_<version>_<arch>.deb, which installs what `cmake --install` does
# into /usr.
set(CPACK_PACKAGE_NAME cardfs)
set(CPACK_PACKAGE_VENDOR "cardfs developers")
set(CPACK_PACKAGE_CONTACT "cardfs developers <cardfs@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "volumes and field-data files on diskettes, flash cartridges and memory cards")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_GENERATOR DEB)
include(CPack)
