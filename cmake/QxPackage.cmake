# `make package`: a Debian package of the install tree (cmake/QxInstall.cmake) made by CPack. Its
# dependencies come from the installed programs themselves (dpkg-shlibdeps), not from a list kept here.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qx-native-client)
set(CPACK_PACKAGE_VERSION 1.0.0)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Shows the screens of remote phones, one bare window per device")
set(CPACK_PACKAGE_DESCRIPTION "A controlling application drives the client over a local TCP control \
channel. With qxctl (the controller command line), qx-devsim (a simulated phone), zrctool and the ZRC codec \
library (zrc.h, pkg-config and CMake package zrc).")
set(CPACK_PACKAGE_CONTACT "qx-native-client developers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
