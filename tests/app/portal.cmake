# The chat window in a Wayland session, against a test desktop portal on a session bus of
# its own.
add_executable(test_app_portal ${CMAKE_CURRENT_LIST_DIR}/PortalTest.cpp)
target_link_libraries(test_app_portal PRIVATE zt_test_main_gui zibtam_options zt_test_support
                                              zibtam_ui)
add_test(NAME test_app_portal COMMAND dbus-run-session -- $<TARGET_FILE:test_app_portal>)
set_tests_properties(test_app_portal PROPERTIES LABELS gui TIMEOUT 120 SKIP_RETURN_CODE 77
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ZT_TEST_PORTAL=${PROJECT_SOURCE_DIR}/tests/support/test_portal.py")

# The real program natively on a headless Wayland compositor (sway), without X11.
add_executable(test_app_wayland ${CMAKE_CURRENT_LIST_DIR}/WaylandProcessTest.cpp)
target_link_libraries(test_app_wayland PRIVATE zt_test_main zibtam_options zt_test_support
                                               Qt6::Core)
add_dependencies(test_app_wayland zibtam)
add_test(NAME test_app_wayland
         COMMAND ${PROJECT_SOURCE_DIR}/tests/support/wayland-desktop.sh $<TARGET_FILE:test_app_wayland>)
set_tests_properties(test_app_wayland PROPERTIES LABELS wayland TIMEOUT 120 SKIP_RETURN_CODE 77
                     ENVIRONMENT ZIBTAM_EXE=$<TARGET_FILE:zibtam>)
