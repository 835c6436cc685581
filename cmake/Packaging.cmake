# Installation and the Debian package. Only the program itself installs: the
# test executables and the helper tools have no install rules, and must not get any.
include(GNUInstallDirs)

install(TARGETS tarvex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(UNIX AND NOT APPLE)
    set(TARVEX_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
    set(TARVEX_ICON_SVG ${TARVEX_PACKAGING_DIR}/icons/tarvex.svg)
    set(TARVEX_HICOLOR_DIR ${CMAKE_INSTALL_DATADIR}/icons/hicolor)

    install(FILES ${TARVEX_PACKAGING_DIR}/tarvex.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${TARVEX_ICON_SVG} DESTINATION ${TARVEX_HICOLOR_DIR}/scalable/apps)

    # Menus and panels pick a bitmap of the size they draw, so the fixed sizes
    # are rendered from the one drawing rather than kept as separate files.
    set(icon_sizes)
    find_program(TARVEX_RSVG_CONVERT rsvg-convert)
    if(TARVEX_RSVG_CONVERT)
        set(icon_sizes 16 32 48 64 128 256)
        set(icon_pngs)
        foreach(size IN LISTS icon_sizes)
            set(icon_dir ${CMAKE_BINARY_DIR}/packaging/icons/${size}x${size})
            add_custom_command(OUTPUT ${icon_dir}/tarvex.png
                COMMAND ${CMAKE_COMMAND} -E make_directory ${icon_dir}
                COMMAND ${TARVEX_RSVG_CONVERT} --width=${size} --height=${size} --output=${icon_dir}/tarvex.png
                        ${TARVEX_ICON_SVG}
                DEPENDS ${TARVEX_ICON_SVG}
                COMMENT "Rendering the ${size}x${size} icon"
                VERBATIM)
            list(APPEND icon_pngs ${icon_dir}/tarvex.png)
            install(FILES ${icon_dir}/tarvex.png DESTINATION ${TARVEX_HICOLOR_DIR}/${size}x${size}/apps)
        endforeach()
        add_custom_target(tarvex_icons ALL DEPENDS ${icon_pngs})
    else()
        message(WARNING "rsvg-convert (Debian package librsvg2-bin) not found: only the scalable icon "
                        "will be installed. 'scripts/install-deps.sh package' installs it.")
    endif()

    set(man_page ${CMAKE_BINARY_DIR}/packaging/tarvex.1)
    configure_file(${TARVEX_PACKAGING_DIR}/tarvex.1 ${man_page} @ONLY)
    # Debian keeps manual pages compressed; -n leaves the time stamp out so the
    # package is the same on every rebuild.
    find_program(TARVEX_GZIP gzip)
    if(TARVEX_GZIP)
        add_custom_command(OUTPUT ${man_page}.gz
            COMMAND ${TARVEX_GZIP} -9 -n -k -f ${man_page}
            DEPENDS ${man_page}
            VERBATIM)
        add_custom_target(tarvex_man ALL DEPENDS ${man_page}.gz)
        install(FILES ${man_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    else()
        install(FILES ${man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    endif()

    if(TARVEX_BUILD_TESTS)
        add_test(NAME packaging_install
                 COMMAND ${TARVEX_PACKAGING_DIR}/check-install.sh ${CMAKE_COMMAND} ${CMAKE_BINARY_DIR} ${icon_sizes})
        set_tests_properties(packaging_install PROPERTIES TIMEOUT 120 LABELS packaging)
    endif()
endif()

set(CPACK_PACKAGE_NAME tarvex)
set(CPACK_PACKAGE_VENDOR "${TARVEX_AUTHOR_NAME}")
set(CPACK_PACKAGE_CONTACT "${TARVEX_AUTHOR_NAME} <${TARVEX_AUTHOR_MAIL}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Uploads contest contacts to the Corvane online log as they are logged")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Tarvex runs beside a contest logging program. It receives the contact that the\n"
    "logger broadcasts over UDP for every QSO, turns it into an ADIF record and uploads\n"
    "it at once to the Corvane online log. Refused contacts are kept in an ADIF file\n"
    "for a later manual upload.")
set(CPACK_STRIP_FILES ON)

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # Qt loads its platform plugin at run time, so the library scan cannot see it.
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
endif()

include(CPack)
