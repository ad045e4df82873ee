# Notifications, the tray icon's animation and the hot key names.
zt_add_test(NAME test_app_notifier LABEL unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/NotifierTest.cpp LIBS zibtam_core)
zt_add_test(NAME test_app_icons LABEL gui GUI SOURCES ${CMAKE_CURRENT_LIST_DIR}/ProgramIconsTest.cpp LIBS zibtam_ui)
# On a desktop of its own: Xvfb, openbox and a tint2 panel; keys and clicks from xdotool.
add_executable(test_app_tray_x11 ${CMAKE_CURRENT_LIST_DIR}/TrayX11Test.cpp)
target_link_libraries(test_app_tray_x11 PRIVATE zt_test_main_gui zibtam_options zt_test_support zibtam_ui)
add_test(NAME test_app_tray_x11
         COMMAND ${PROJECT_SOURCE_DIR}/tests/support/x11-desktop.sh $<TARGET_FILE:test_app_tray_x11>)
set_tests_properties(test_app_tray_x11 PROPERTIES LABELS x11 TIMEOUT 120)
zt_add_test(NAME test_app_notifier_host LABEL gui GUI SOURCES ${CMAKE_CURRENT_LIST_DIR}/NotifierHostTest.cpp LIBS zibtam_ui)
# The accessibility bus: a session bus of its own, so the bus launcher starts fresh.
add_executable(test_app_password_x11 ${CMAKE_CURRENT_LIST_DIR}/PasswordFocusX11Test.cpp)
target_link_libraries(test_app_password_x11 PRIVATE zt_test_main_gui zibtam_options zt_test_support zibtam_ui)
add_test(NAME test_app_password_x11
         COMMAND ${PROJECT_SOURCE_DIR}/tests/support/x11-desktop.sh dbus-run-session -- $<TARGET_FILE:test_app_password_x11>)
set_tests_properties(test_app_password_x11 PROPERTIES LABELS x11 TIMEOUT 120)
# A test double of the desktop's notification service on a private session bus.
find_package(Qt6 REQUIRED COMPONENTS DBus Test)
add_executable(test_app_desktop_notifications ${CMAKE_CURRENT_LIST_DIR}/DesktopNotificationsTest.cpp)
target_link_libraries(test_app_desktop_notifications PRIVATE zt_test_main_gui zibtam_options
                                                             zt_test_support zibtam_ui Qt6::Test)
add_test(NAME test_app_desktop_notifications
         COMMAND dbus-run-session -- $<TARGET_FILE:test_app_desktop_notifications>)
set_tests_properties(test_app_desktop_notifications PROPERTIES LABELS gui TIMEOUT 60
                     ENVIRONMENT QT_QPA_PLATFORM=offscreen SKIP_RETURN_CODE 77)
# The tray icon as a StatusNotifierItem, against a test double of the panel's watcher on a
# session bus of its own; the chat window's case on an X11 desktop (a window shown minimised
# stays inactive there, so the window flashes as it does for users).
add_executable(test_app_status_notifier ${CMAKE_CURRENT_LIST_DIR}/StatusNotifierItemTest.cpp)
target_link_libraries(test_app_status_notifier PRIVATE zt_test_main_gui zibtam_options
                                                       zt_test_support zibtam_ui)
add_test(NAME test_app_status_notifier
         COMMAND dbus-run-session -- $<TARGET_FILE:test_app_status_notifier>
                 --gtest_filter=-StatusNotifierWindowTest.*)
set_tests_properties(test_app_status_notifier PROPERTIES LABELS gui TIMEOUT 60
                     ENVIRONMENT QT_QPA_PLATFORM=offscreen SKIP_RETURN_CODE 77)
add_test(NAME test_app_status_notifier_x11
         COMMAND ${PROJECT_SOURCE_DIR}/tests/support/x11-desktop.sh dbus-run-session --
                 $<TARGET_FILE:test_app_status_notifier> --gtest_filter=StatusNotifierWindowTest.*)
set_tests_properties(test_app_status_notifier_x11 PROPERTIES LABELS x11 TIMEOUT 120
                     SKIP_RETURN_CODE 77)
