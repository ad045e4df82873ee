# The controller with fakes and the simulated network.
zt_add_test(NAME test_app_controller LABEL unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/ControllerTest.cpp LIBS zibtam_core)
zt_add_test(NAME test_app_console_text LABEL unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/ConsoleTextTest.cpp LIBS zibtam_core)
