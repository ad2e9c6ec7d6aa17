# The window's pictures, compiled into quorvale_gui.
#
# Icons are our own SVG glyphs, reached without extension as
# ":/icons/<name>_icon"; Qt's SVG icon engine (Debian's libqt6svg6) draws them
# at whatever size a tool bar or list asks for. Country flags come from
# Debian's famfamfam-flag-png as ":/resources/flags/<code>.png".

set(QUORVALE_ICONS
    add_user alert browse chat connect data diagnostics disconnect download offline online
    options privileges rescan room search share_folder transfers unshare_folder upload user_list
    wish_list)

set(_icon_files)
foreach(icon IN LISTS QUORVALE_ICONS)
    set(_file ${CMAKE_CURRENT_SOURCE_DIR}/resources/icons/${icon}.svg)
    set_source_files_properties(${_file} PROPERTIES QT_RESOURCE_ALIAS ${icon}_icon)
    list(APPEND _icon_files ${_file})
endforeach()
qt_add_resources(quorvale_gui quorvale_icons PREFIX /icons FILES ${_icon_files})

find_path(QUORVALE_FLAGS_DIR NAMES us.png de.png PATHS /usr/share/flags/countries/16x11 NO_DEFAULT_PATH)
if(NOT QUORVALE_FLAGS_DIR)
    message(FATAL_ERROR
        "Country flag pictures not found in /usr/share/flags/countries/16x11: install the Debian "
        "package famfamfam-flag-png (scripts/deps does).")
endif()
file(GLOB _flag_files ${QUORVALE_FLAGS_DIR}/*.png)
qt_add_resources(quorvale_gui quorvale_flags PREFIX /resources/flags BASE ${QUORVALE_FLAGS_DIR}
    FILES ${_flag_files})
