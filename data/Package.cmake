# Installed like a desktop application, and packed into a Debian package by CPack
# (scripts/package). Included from the top CMakeLists.txt, so the paths are the source tree's.
include(GNUInstallDirs)
set(BILDFANG_DATA ${PROJECT_SOURCE_DIR}/data)
set(BILDFANG_GENERATED ${PROJECT_BINARY_DIR}/data)

install(TARGETS bildfang RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${BILDFANG_DATA}/bildfang.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${BILDFANG_DATA}/bildfang.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 22 24 32 48 64 128 256)
  set(icon ${BILDFANG_DATA}/icons/bildfang-${size}.png)
  if(size EQUAL 64)
    set(icon ${BILDFANG_DATA}/bildfang.png)
  endif()
  install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME bildfang.png)
endforeach()

# The release in the metadata is the changelog's newest entry.
file(STRINGS ${BILDFANG_DATA}/changelog newest REGEX "^bildfang \\(|^ -- " LIMIT_COUNT 2)
list(GET newest 0 heading)
list(GET newest 1 trailer)
string(REGEX REPLACE "^bildfang \\(([^)]*)\\).*" "\\1" BILDFANG_RELEASE "${heading}")
string(REGEX REPLACE ".*>  ..., ([0-9]+) ([A-Z][a-z][a-z]) ([0-9]+) .*" "\\3-\\2-\\1" BILDFANG_RELEASE_DATE "${trailer}")
set(index 1)
foreach(month Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  if(index LESS 10)
    set(index 0${index})
  endif()
  string(REPLACE "-${month}-" "-${index}-" BILDFANG_RELEASE_DATE "${BILDFANG_RELEASE_DATE}")
  math(EXPR index "${index} + 1")
endforeach()
if(NOT BILDFANG_RELEASE STREQUAL PROJECT_VERSION)
  message(WARNING "data/changelog has no entry for version ${PROJECT_VERSION} yet (newest: ${BILDFANG_RELEASE})")
endif()
configure_file(${BILDFANG_DATA}/bildfang.metainfo.xml ${BILDFANG_GENERATED}/de.bildfang.Bildfang.metainfo.xml @ONLY)
install(FILES ${BILDFANG_GENERATED}/de.bildfang.Bildfang.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The services start the program where it is installed, so the prefix is known only then
# (cpack installs with DESTDIR, the prefix being /usr). Made apart for every destination, as
# two installs may run at once.
install(CODE "
  string(MD5 destination \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
  set(units \"${BILDFANG_GENERATED}/units-\${destination}\")
  set(BILDFANG_PROGRAM \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/bildfang\")
  foreach(unit bildfang.service bildfang@.service bildfang-system.service)
    configure_file(\"${BILDFANG_DATA}/systemd/\${unit}.in\" \"\${units}/\${unit}\" @ONLY)
  endforeach()
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/user\" TYPE FILE
       FILES \"\${units}/bildfang.service\" \"\${units}/bildfang@.service\")
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/doc/bildfang/examples\" TYPE FILE
       FILES \"\${units}/bildfang-system.service\")")

# Manual page and changelog compressed as Debian wants them: gzip -9, no name or time inside.
foreach(pair "bildfang.1|${CMAKE_INSTALL_MANDIR}/man1" "changelog|${CMAKE_INSTALL_DATADIR}/doc/bildfang")
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 name)
  list(GET pair 1 destination)
  add_custom_command(OUTPUT ${BILDFANG_GENERATED}/${name}.gz
                     COMMAND gzip -9nc ${BILDFANG_DATA}/${name} > ${BILDFANG_GENERATED}/${name}.gz
                     DEPENDS ${BILDFANG_DATA}/${name} VERBATIM)
  list(APPEND compressed ${BILDFANG_GENERATED}/${name}.gz)
  install(FILES ${BILDFANG_GENERATED}/${name}.gz DESTINATION ${destination})
endforeach()
add_custom_target(bildfang_docs ALL DEPENDS ${compressed})
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${BILDFANG_DATA}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/bildfang)

# cpack packs what was built; it builds nothing itself (the package test runs beside other tests).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME bildfang)
set(CPACK_PACKAGE_VENDOR "Bildfang")
set(CPACK_PACKAGE_CONTACT "Bildfang maintainers <maintainers@users.noreply.c-seed-3b641364.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "record still images from network cameras")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Bildfang fetches the current JPEG picture of each network camera over HTTP at
the camera's own interval, keeps the images that changed and files them in an
archive with a folder per camera, year, month, day and hour, within a limit
of free space or age. Its user interface is German.
.
It runs with its window or headless as a systemd user service, and several
instances with their own settings run side by side.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ffmpeg")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
