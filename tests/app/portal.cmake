# The chat window in a Wayland session, against a test desktop portal on a session bus of
# its own.
add_executable(test_app_portal ${CMAKE_CURRENT_LIST_DIR}/PortalTest.cpp)
target_link_libraries(test_app_portal PRIVATE zt_test_main_gui zibtam_options zt_test_support
                                              zibtam_ui)
add_test(NAME test_app_portal COMMAND dbus-run-session -- $<TARGET_FILE:test_app_portal>)
set_tests_properties(test_app_portal PROPERTIES LABELS gui TIMEOUT 120 SKIP_RETURN_CODE 77
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ZT_TEST_PORTAL=${PROJECT_SOURCE_DIR}/tests/support/test_portal.py")
