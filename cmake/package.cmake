# Debian package of the program: cpack -G DEB in a build tree gives
# orb-admin_<version>_amd64.deb (version from project()).
set(CPACK_PACKAGE_NAME orb-admin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "orb-admin")
set(CPACK_PACKAGE_CONTACT "orb-admin developers <orb-admin@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Kalvo Orb server administration / Администрирование сервера Kalvo Orb")
# The summary above is the first line; this text follows it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A desktop tool that manages the users, groups and devices in a Kalvo Orb
tracking server's MySQL/MariaDB database, and adds devices in bulk from a
CSV/TXT file or from the device list the server reports.
.
Программа для администратора: пользователи, группы и устройства в базе
данных MySQL/MariaDB сервера Kalvo Orb, массовое добавление устройств из
файла CSV/TXT или из списка устройств, который сообщает сервер.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries come from dpkg-shlibdeps; the plugins Qt loads at run time from the list set
# with the Qt version.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${ORB_QT_RUNTIME_PACKAGES}")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
include(CPack)
