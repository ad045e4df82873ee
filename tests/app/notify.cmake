# Notifications, the tray icon's animation and the hot key names.
zt_add_test(NAME test_app_notifier LABEL unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/NotifierTest.cpp LIBS zibtam_core)
zt_add_test(NAME test_app_icons LABEL gui GUI SOURCES ${CMAKE_CURRENT_LIST_DIR}/ProgramIconsTest.cpp LIBS zibtam_ui)
