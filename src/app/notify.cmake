# Notifications, the tray icon, hot keys and the desktop-wide key watcher: the decisions
# in the core, the desktop's side in the widgets layer.
target_sources(zibtam_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ChatNotifier.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HotKeys.cpp
  ${CMAKE_CURRENT_LIST_DIR}/IconAnimation.cpp)
