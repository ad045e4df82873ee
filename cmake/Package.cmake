# The Debian package: cpack -G DEB in the build folder (see README.md). The program goes to
# /usr/bin with its menu entry, icon, AppStream data, manual page and the server's systemd
# user unit; the dependencies are computed from the libraries the program links.
include(GNUInstallDirs)

set(ZT_RES ${PROJECT_SOURCE_DIR}/res)
set(ZT_GZ ${CMAKE_BINARY_DIR}/package)
file(MAKE_DIRECTORY ${ZT_GZ})
# gzip -n keeps the time stamp out of the compressed files.
foreach(pair IN ITEMS "zibtam.1|zibtam.1.gz" "changelog|changelog.gz")
  string(REPLACE "|" ";" pair ${pair})
  list(GET pair 0 source)
  list(GET pair 1 target)
  add_custom_command(OUTPUT ${ZT_GZ}/${target}
    COMMAND gzip -9nc ${ZT_RES}/${source} > ${ZT_GZ}/${target}
    DEPENDS ${ZT_RES}/${source} VERBATIM)
  list(APPEND zt_gz_files ${ZT_GZ}/${target})
endforeach()
add_custom_target(zibtam_package_files ALL DEPENDS ${zt_gz_files})

install(TARGETS zibtam RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The log viewer's web view module, where the program looks for a package's copy of it
# (lib/zibtam/modules beside bin): a module that is loaded, not run, so not executable, and
# out of the linker's folders, so the package needs no ldconfig call.
set(zt_installed_binaries bin/zibtam)
if(TARGET zibtam_webview)
  install(TARGETS zibtam_webview LIBRARY DESTINATION lib/zibtam/modules
          PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  list(APPEND zt_installed_binaries lib/zibtam/modules/zibtam_webview.so)
endif()
# Stripped as Debian strips: the compiler's .comment section goes too.
foreach(binary IN LISTS zt_installed_binaries)
  install(CODE "execute_process(COMMAND ${CMAKE_OBJCOPY} --remove-section=.comment
                                        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${binary}\")")
endforeach()
install(FILES ${ZT_RES}/com.fernquillsoft.zibtam.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${ZT_RES}/com.fernquillsoft.zibtam.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${ZT_RES}/zibtam.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${ZT_GZ}/zibtam.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${ZT_RES}/zibtam-server.service DESTINATION lib/systemd/user)
install(FILES ${ZT_RES}/copyright ${ZT_GZ}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zibtam)

set(CPACK_PACKAGE_NAME zibtam)
set(CPACK_PACKAGE_VENDOR FernquillSoft)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Zib Tam Maintainers <zibtam@fernquillsoft.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "office chat for small networks")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Zib Tam lives in the notification area and sends short messages to chosen
colleagues or to everyone, peer-to-peer or through a server that one copy
runs. It keeps a searchable message log, answers by rules, sends messages
later and types a stored text into other programs on a hot key.")
# The display's platform plugin is loaded at run time, so no library dependency names it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland") # else XWayland, or the console
set(CPACK_GENERATOR DEB)
include(CPack)
