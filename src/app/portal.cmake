# Hot keys and AutoType on a Wayland desktop, through the desktop portal on the session bus.
if(TARGET zibtam_ui)
  target_sources(zibtam_ui PRIVATE
    ${PROJECT_SOURCE_DIR}/src/platform/DesktopPortal.cpp
    ${PROJECT_SOURCE_DIR}/src/autotype/PortalKeyboard.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PortalHotKeys.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PortalAutoType.cpp)
endif()
