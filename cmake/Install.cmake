# `cmake --install` and `cpack -G DEB`: the program, its desktop entry, its
# icon and, when the build was given one, its Firebase settings.
include(GNUInstallDirs)

set(CORVANTA_FIREBASE_CONFIG "" CACHE FILEPATH
  "The firebase.json to install beside the program; without one the accounts are off")

install(TARGETS corvanta RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES share/icons/corvanta.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# The entry handles the Google sign-in callback scheme: the reversed client id.
set(SCHEME_FIELD "")
set(MIME_LINE "")
if(CORVANTA_FIREBASE_CONFIG)
  file(READ ${CORVANTA_FIREBASE_CONFIG} firebase)
  string(JSON client ERROR_VARIABLE no_client GET "${firebase}" googleClientID)
  if(NOT no_client AND client)
    string(REPLACE "." ";" parts "${client}")
    list(REVERSE parts)
    list(JOIN parts "." scheme)
    set(SCHEME_FIELD "%u")
    set(MIME_LINE "MimeType=x-scheme-handler/${scheme};")
  endif()
  install(FILES ${CORVANTA_FIREBASE_CONFIG} DESTINATION ${CMAKE_INSTALL_DATADIR}/corvanta RENAME firebase.json)
endif()
configure_file(share/applications/corvanta.desktop.in ${PROJECT_BINARY_DIR}/corvanta.desktop.in @ONLY)
# The program's path is known only at install time (--prefix, a package's /usr).
install(CODE "
  file(READ \"${PROJECT_BINARY_DIR}/corvanta.desktop.in\" entry)
  string(REPLACE __PREFIX__ \"\${CMAKE_INSTALL_PREFIX}\" entry \"\${entry}\")
  file(WRITE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/applications/corvanta.desktop\" \"\${entry}\")
  message(STATUS \"Installing: \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/applications/corvanta.desktop\")
")

set(CPACK_PACKAGE_NAME corvanta)
set(CPACK_PACKAGE_VENDOR "Brenmoral")
set(CPACK_PACKAGE_CONTACT "Corvanta <corvanta@brenmoral.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Keeps every app up to date, and says honestly when it can't")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
include(CPack)
