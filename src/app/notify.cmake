# Notifications, the tray icon, hot keys and the desktop-wide key watcher: the decisions
# in the core, the desktop's side in the widgets layer.
target_sources(zibtam_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ChatNotifier.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HotKeys.cpp
  ${CMAKE_CURRENT_LIST_DIR}/IconAnimation.cpp)
if(TARGET zibtam_ui)
  find_package(Qt6 REQUIRED COMPONENTS Svg Multimedia DBus GLOBAL)
  target_sources(zibtam_ui PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/DesktopNotifications.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ProgramIcons.cpp
    ${CMAKE_CURRENT_LIST_DIR}/StatusNotifierItem.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TrayIcon.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WidgetNotifierHost.cpp
    ${PROJECT_SOURCE_DIR}/src/platform/SoundPlayer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/AtSpiPasswordFocus.cpp
    ${PROJECT_SOURCE_DIR}/src/platform/X11KeyMap.cpp
    ${CMAKE_CURRENT_LIST_DIR}/X11HotKeys.cpp
    ${PROJECT_SOURCE_DIR}/src/platform/X11KeyWatcher.cpp)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(ZT_DESKTOP_LIBS REQUIRED IMPORTED_TARGET GLOBAL xcb xcb-xinput libcanberra)
  target_link_libraries(zibtam_ui PUBLIC Qt6::Svg Qt6::Multimedia Qt6::DBus PkgConfig::ZT_DESKTOP_LIBS)
  file(GLOB program_icons CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/res/icons/*.svg)
  qt_add_resources(zibtam_ui "program_icons" PREFIX "/icons" BASE ${PROJECT_SOURCE_DIR}/res/icons
                   FILES ${program_icons})
endif()
