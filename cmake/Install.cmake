# What `cmake --install` puts under the prefix: the program, its launcher, its icon in the
# hicolor theme (the drawing and PNG sizes rendered from it), the AppStream metadata, the
# manual page and the package's documents; and the Debian package of all of it (CPack, see
# scripts/package).
include(GNUInstallDirs)

set(MB_SCREENSHOT_URL "https://${MB_VENDOR_HOST}/beaconer/screenshots" CACHE STRING
    "Where the README's screenshots are published, for the AppStream metadata")
# The release date of the metadata and the package's changelog: the last commit's, so that a
# rebuild of the same tree makes the same files.
execute_process(COMMAND git -C "${PROJECT_SOURCE_DIR}" log -1 --format=%cs
    OUTPUT_VARIABLE MB_RELEASE_DATE OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
execute_process(COMMAND git -C "${PROJECT_SOURCE_DIR}" log -1 --format=%cD
    OUTPUT_VARIABLE MB_CHANGELOG_DATE OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT MB_RELEASE_DATE)
    string(TIMESTAMP MB_RELEASE_DATE "%Y-%m-%d" UTC)
    string(TIMESTAMP MB_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
endif()

set(mb_dist "${PROJECT_BINARY_DIR}/dist")
set(mb_id "${MB_APPLICATION_ID}")

install(TARGETS mailbeacon RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")

configure_file(dist/launcher.desktop.in "${mb_dist}/${mb_id}.desktop" @ONLY)
install(FILES "${mb_dist}/${mb_id}.desktop" DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")

configure_file(dist/metainfo.xml.in "${mb_dist}/${mb_id}.metainfo.xml" @ONLY)
install(FILES "${mb_dist}/${mb_id}.metainfo.xml" DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")

set(mb_drawing "${PROJECT_SOURCE_DIR}/desktop/icons/mailbeacon.svg")
install(FILES "${mb_drawing}" RENAME "${mb_id}.svg"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
set(mb_generated)
foreach(size 16 22 24 32 48 64 128 256)
    set(png "${mb_dist}/icons/${size}/${mb_id}.png")
    add_custom_command(OUTPUT "${png}"
        COMMAND "${CMAKE_COMMAND}" -E make_directory "${mb_dist}/icons/${size}"
        COMMAND mb_render_icon "${mb_drawing}" ${size} "${png}"
        DEPENDS mb_render_icon "${mb_drawing}"
        COMMENT "Rendering the program's icon at ${size} pixels"
        VERBATIM)
    list(APPEND mb_generated "${png}")
    install(FILES "${png}"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps")
endforeach()

# Compressed, as Debian's policy asks of manual pages; man reads it either way.
set(mb_manual "${mb_dist}/mailbeacon.1.gz")
add_custom_command(OUTPUT "${mb_manual}"
    COMMAND sh -c "gzip -9n < \"$0\" > \"$1\"" "${PROJECT_SOURCE_DIR}/dist/mailbeacon.1"
        "${mb_manual}"
    DEPENDS "${PROJECT_SOURCE_DIR}/dist/mailbeacon.1"
    VERBATIM)
list(APPEND mb_generated "${mb_manual}")
install(FILES "${mb_manual}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")

include(cmake/Package.cmake)

add_custom_target(mb_install_files ALL DEPENDS ${mb_generated})
