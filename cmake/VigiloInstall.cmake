# What `cmake --install` puts into the prefix, and the Debian package made from it.
#   bin/vigilo, share/applications/vigilo.desktop, the icon in the hicolor theme
#   (scalable SVG plus PNGs drawn at build time by vigilo_appicon), man1/vigilo.1.gz,
#   share/doc/vigilo/copyright. The program needs no data files of its own at run time.
include(GNUInstallDirs)

set(VIGILO_ICON_SIZES 16 22 24 32 48 64 128 256)
set(vigilo_share_dir ${CMAKE_INSTALL_DATAROOTDIR})
set(vigilo_doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/vigilo)

if(VIGILO_GUI)
  install(TARGETS vigilo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES resources/vigilo.desktop DESTINATION ${vigilo_share_dir}/applications)
  install(FILES resources/vigilo.svg DESTINATION ${vigilo_share_dir}/icons/hicolor/scalable/apps)

  set(icon_dir ${CMAKE_CURRENT_BINARY_DIR}/icons)
  set(icon_files)
  foreach(size IN LISTS VIGILO_ICON_SIZES)
    list(APPEND icon_files ${icon_dir}/vigilo-${size}.png)
    install(FILES ${icon_dir}/vigilo-${size}.png
            DESTINATION ${vigilo_share_dir}/icons/hicolor/${size}x${size}/apps RENAME vigilo.png)
  endforeach()
  add_custom_command(OUTPUT ${icon_files}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${icon_dir}
    COMMAND vigilo_appicon ${icon_dir} ${VIGILO_ICON_SIZES}
    DEPENDS vigilo_appicon
    COMMENT "Drawing the program's icons")
  add_custom_target(vigilo_icons ALL DEPENDS ${icon_files})
endif()

# The manual page, with the version filled in and compressed as Debian keeps them.
set(man_page ${CMAKE_CURRENT_BINARY_DIR}/man/vigilo.1)
configure_file(resources/vigilo.1 ${man_page} @ONLY)
find_program(GZIP_PROGRAM gzip)
if(GZIP_PROGRAM)
  add_custom_command(OUTPUT ${man_page}.gz
    COMMAND ${GZIP_PROGRAM} -9nf -k ${man_page}
    DEPENDS ${man_page}
    COMMENT "Compressing the manual page")
  add_custom_target(vigilo_man ALL DEPENDS ${man_page}.gz)
  install(FILES ${man_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  install(FILES ${man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

install(FILES COPYING DESTINATION ${vigilo_doc_dir} RENAME copyright)
install(FILES README.md DESTINATION ${vigilo_doc_dir})

# The Debian package (scripts/package; `cpack -G DEB` in a build folder).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vigilo)
set(CPACK_PACKAGE_VENDOR "the Vigilo developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tray mail-watch utility for POP3 mailboxes")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Vigilo developers <vigilo@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The long description; CPack puts the summary above it.
set(CPACK_PACKAGE_DESCRIPTION "Vigilo lives in the desktop tray and checks several POP3 mailboxes at a fixed
interval, reading only the headers of waiting mail. From its windows mail is
read and deleted on the server, Russian mail shown in any Cyrillic code page,
mail sent by SMTP and pop-up messages exchanged on the local network.")
# Dependencies come from the shared libraries the program links (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The sound theme holds the default "message-new-email"; the dial-up entries come from
# NetworkManager, the computers of the network from Samba's or Avahi's browser.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "sound-theme-freedesktop")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "network-manager, smbclient | avahi-utils")
include(CPack)
