# Notifications, the tray icon, hot keys and the desktop-wide key watcher: the decisions
# in the core, the desktop's side in the widgets layer.
target_sources(zibtam_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ChatNotifier.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HotKeys.cpp
  ${CMAKE_CURRENT_LIST_DIR}/IconAnimation.cpp)
if(TARGET zibtam_ui)
  find_package(Qt6 REQUIRED COMPONENTS Svg GLOBAL)
  target_sources(zibtam_ui PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/ProgramIcons.cpp)
  target_link_libraries(zibtam_ui PUBLIC Qt6::Svg)
  file(GLOB program_icons CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/res/icons/*.svg)
  qt_add_resources(zibtam_ui "program_icons" PREFIX "/icons" BASE ${PROJECT_SOURCE_DIR}/res/icons
                   FILES ${program_icons})
endif()
