# What goes into the Debian package, and how CPack builds it.
#
# The binaries come from the ordinary build tree; the files a desktop expects
# around them (icons in the hicolor sizes, compressed man pages and changelog)
# are made by the target quorvale-package-files, which scripts/package builds
# before running CPack. It is not part of "all": drawing the icons needs
# rsvg-convert, which an ordinary build should not.
include(GNUInstallDirs)

set(QUORVALE_APP_ID org.quorvale.Quorvale)
set(_packaging ${CMAKE_SOURCE_DIR}/packaging)
set(_generated ${CMAKE_BINARY_DIR}/packaging)
# The "online" glyph, three linked peers on green, doubles as the program's icon.
set(_app_svg ${CMAKE_SOURCE_DIR}/src/ui/resources/icons/online.svg)
set(_icon_sizes 16 22 24 32 48 64 128 256)
set(_man_pages quorvale quorvale-node quorvale-labserver)

# Installing should not rebuild the tests and benchmarks first: the package
# holds three programs, and scripts/package builds exactly those.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(_programs quorvale-node quorvale-labserver)
if(QUORVALE_GUI)
    list(PREPEND _programs quorvale)
endif()
install(TARGETS ${_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(_package_files)
find_program(QUORVALE_RSVG_CONVERT rsvg-convert)
find_program(QUORVALE_GZIP gzip REQUIRED)
foreach(size IN LISTS _icon_sizes)
    set(_png ${_generated}/icons/${size}/${QUORVALE_APP_ID}.png)
    add_custom_command(OUTPUT ${_png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${_generated}/icons/${size}
        COMMAND ${QUORVALE_RSVG_CONVERT} -w ${size} -h ${size} -o ${_png} ${_app_svg}
        DEPENDS ${_app_svg} VERBATIM)
    list(APPEND _package_files ${_png})
    install(FILES ${_png}
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${_app_svg} RENAME ${QUORVALE_APP_ID}.svg
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)

# gzip -n leaves the name and time out of the header, so the package's bytes
# depend only on its contents.
function(quorvale_gzip source output)
    add_custom_command(OUTPUT ${output}
        COMMAND ${QUORVALE_GZIP} -9 -n -c ${source} > ${output}
        DEPENDS ${source} VERBATIM)
    set(_package_files ${_package_files} ${output} PARENT_SCOPE)
endfunction()
foreach(page IN LISTS _man_pages)
    quorvale_gzip(${_packaging}/${page}.1 ${_generated}/${page}.1.gz)
    install(FILES ${_generated}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
quorvale_gzip(${_packaging}/changelog ${_generated}/changelog.Debian.gz)
install(FILES ${_generated}/changelog.Debian.gz ${_packaging}/copyright
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/quorvale)

install(FILES ${_packaging}/${QUORVALE_APP_ID}.desktop
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${_packaging}/${QUORVALE_APP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)

add_custom_target(quorvale-package-files DEPENDS ${_package_files})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvale)
set(CPACK_PACKAGE_VENDOR "The Quorvale developers")
set(CPACK_PACKAGE_CONTACT "Quorvale developers <developers@quorvale.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "chat and share music on a peer-to-peer network")
set(CPACK_PACKAGE_DESCRIPTION
    "Quorvale is a desktop client for a peer-to-peer file-sharing and chat network.\n"
    "A central server logs you in, relays chat rooms and private messages and\n"
    "tells you who is online. Searches, share listings and files travel directly\n"
    "between people. Chat in rooms and in private, keep a user list, search once\n"
    "or through a wish list, browse shares, download, and share your own folders.\n"
    "\n"
    "Also holds quorvale-node, the client without a window driven through\n"
    "standard input, and quorvale-labserver, a server for one machine's tests\n"
    "and demonstrations.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGE_INSTALL_DIRECTORY quorvale)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies come from dpkg-shlibdeps; the SVG icon engine is a Qt
# plugin nothing links against, so it is named by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
