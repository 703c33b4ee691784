# The Debian package of the install tree (scripts/package runs cpack): its dependencies come
# from dpkg-shlibdeps, its documents are the copyright file and the changelog Debian asks for.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mailbeacon)
set(CPACK_PACKAGE_VENDOR Hollinway)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "Hollinway <${MB_SUPPORT_ADDRESS}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tells you when mail waits on your POP3 servers")
set(CPACK_PACKAGE_DESCRIPTION
    "Mailbeacon lives in the system tray and checks one or more POP3 mailboxes at an\n\
interval or on demand. It lists the messages that wait on the servers and\n\
announces new mail with a desktop notification naming who wrote, a blinking\n\
tray icon, a sound or the start of a mail client. Messages can be previewed\n\
without downloading them and deleted on their servers.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Hollinway <${MB_SUPPORT_ADDRESS}>")
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://${MB_VENDOR_HOST}/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its platform plug-ins (the X11 one among them) at run time, where dpkg-shlibdeps
# cannot see them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")

set(MB_PACKAGE_VERSION "${CPACK_DEBIAN_PACKAGE_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")
set(mb_package_docs "${PROJECT_BINARY_DIR}/dist/doc")
configure_file(dist/copyright "${mb_package_docs}/copyright" @ONLY)
configure_file(dist/changelog "${mb_package_docs}/changelog.Debian" @ONLY)
set(mb_changelog "${mb_package_docs}/changelog.Debian.gz")
add_custom_command(OUTPUT "${mb_changelog}"
    COMMAND sh -c "gzip -9n < \"$0\" > \"$1\"" "${mb_package_docs}/changelog.Debian"
        "${mb_changelog}"
    DEPENDS "${mb_package_docs}/changelog.Debian"
    VERBATIM)
list(APPEND mb_generated "${mb_changelog}")
# Debian looks for a package's documents under its own name.
install(FILES "${mb_package_docs}/copyright" "${mb_changelog}"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/mailbeacon")

include(CPack)
