# Installation and the Debian package. Only the program itself installs: the
# test executables and the helper tools have no install rules, and must not get any.
include(GNUInstallDirs)

install(TARGETS tarvex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    # As Debian builds its programs: relocations read-only once resolved at start.
    target_link_options(tarvex PRIVATE LINKER:-z,relro LINKER:-z,now)
    # A stripped install (CPack, cmake --install --strip) also drops the
    # compilers' version notes, as Debian's own strip step does.
    if(CMAKE_OBJCOPY)
        install(CODE "
            if(CMAKE_INSTALL_DO_STRIP)
                execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
                    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/tarvex\" COMMAND_ERROR_IS_FATAL ANY)
            endif()
        ")
    endif()
endif()

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

    set(TARVEX_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/tarvex)
    set(man_page ${CMAKE_BINARY_DIR}/packaging/tarvex.1)
    configure_file(${TARVEX_PACKAGING_DIR}/tarvex.1 ${man_page} @ONLY)
    set(changelog ${CMAKE_BINARY_DIR}/packaging/changelog.Debian)
    configure_file(${TARVEX_PACKAGING_DIR}/changelog ${changelog} COPYONLY)
    # Debian keeps manual pages and changelogs compressed at the highest level;
    # -n leaves the time stamp out so the package is the same on every rebuild.
    find_program(TARVEX_GZIP gzip)
    if(TARVEX_GZIP)
        foreach(doc IN ITEMS ${man_page} ${changelog})
            add_custom_command(OUTPUT ${doc}.gz
                COMMAND ${TARVEX_GZIP} -9 -n -k -f ${doc}
                DEPENDS ${doc}
                VERBATIM)
        endforeach()
        add_custom_target(tarvex_docs ALL DEPENDS ${man_page}.gz ${changelog}.gz)
        install(FILES ${man_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
        install(FILES ${changelog}.gz DESTINATION ${TARVEX_DOC_DIR})
    else()
        install(FILES ${man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
        install(FILES ${changelog} DESTINATION ${TARVEX_DOC_DIR})
    endif()

    # The licence, in the machine-readable form Debian reads, with its text
    # and holder taken from LICENSE so the two cannot drift apart.
    file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
    string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)" _ "${license}")
    set(TARVEX_COPYRIGHT "${CMAKE_MATCH_1}")
    string(FIND "${license}" "Permission is hereby granted" license_start)
    if(NOT TARVEX_COPYRIGHT OR license_start EQUAL -1)
        message(FATAL_ERROR "LICENSE lacks its copyright line or permission text")
    endif()
    string(SUBSTRING "${license}" ${license_start} -1 license)
    string(STRIP "${license}" license)
    # Continuation lines start with a space; an empty line is written " .".
    string(REPLACE "\n\n" "\n.\n" license "${license}")
    string(REPLACE "\n" "\n " TARVEX_LICENSE_TEXT " ${license}")
    configure_file(${TARVEX_PACKAGING_DIR}/copyright.in ${CMAKE_BINARY_DIR}/packaging/copyright @ONLY)
    install(FILES ${CMAKE_BINARY_DIR}/packaging/copyright DESTINATION ${TARVEX_DOC_DIR})
    install(FILES ${TARVEX_PACKAGING_DIR}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
            RENAME tarvex)

    # The user unit names the program by its full path, which is only known
    # once the install prefix is (cmake --install --prefix, or /usr for the
    # package), so it is written at install time.
    set(service_in ${TARVEX_PACKAGING_DIR}/tarvex.service)
    set(service_out ${CMAKE_BINARY_DIR}/packaging/install/tarvex.service)
    install(CODE "
        set(TARVEX_INSTALL_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
        if(NOT IS_ABSOLUTE \"\${TARVEX_INSTALL_BINDIR}\")
            set(TARVEX_INSTALL_BINDIR \"\${CMAKE_INSTALL_PREFIX}/\${TARVEX_INSTALL_BINDIR}\")
        endif()
        configure_file(\"${service_in}\" \"${service_out}\" @ONLY)
        file(INSTALL \"${service_out}\" DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/user\"
             PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    ")

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
# Debian shows at most 80 columns of each description line.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Tarvex runs beside a contest logging program. It receives the contact that\n"
    "the logger broadcasts over UDP for every QSO, turns it into an ADIF record\n"
    "and uploads it at once to the Corvane online log. Contacts wait in an outbox\n"
    "until the service has answered; refused ones are kept in an ADIF file for a\n"
    "later manual upload. Tarvex can also run without a window, as a systemd user\n"
    "service.")
set(CPACK_STRIP_FILES ON)

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
    # The Debian revision comes from the newest entry of the changelog the
    # package ships, so the two agree; a new revision is a new entry there.
    # (packaging_install checks that entry is for the program's version.)
    file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog changelog_top LIMIT_COUNT 1)
    if(NOT changelog_top MATCHES "^tarvex \\(([^)]+)-([^)-]+)\\)")
        message(FATAL_ERROR "packaging/changelog: the first line should read 'tarvex (VERSION-REVISION) ...'")
    endif()
    set(CPACK_DEBIAN_PACKAGE_RELEASE ${CMAKE_MATCH_2})
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # Qt loads its platform plugin at run time, so the library scan cannot see it;
    # libcurl only recommends the CA store that https needs.
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, ca-certificates")
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
endif()

include(CPack)
