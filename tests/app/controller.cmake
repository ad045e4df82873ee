# The controller with fakes and the simulated network.
zt_add_test(NAME test_app_controller LABEL unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/ControllerTest.cpp LIBS zibtam_core)
# The front ends' poll on the real event loop: events and deadlines, no tick.
zt_add_test(NAME test_app_poll LABEL unit QT SOURCES ${CMAKE_CURRENT_LIST_DIR}/DeadlinePollTest.cpp LIBS zibtam_net)
zt_add_test(NAME test_app_console_text LABEL unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/ConsoleTextTest.cpp LIBS zibtam_core)
# Whole console processes, peer-to-peer across network namespaces.
zt_add_test(NAME test_app_console_process LABEL net SOURCES ${CMAKE_CURRENT_LIST_DIR}/ConsoleProcessTest.cpp
            LIBS zibtam_core ENV ZIBTAM_EXE=$<TARGET_FILE:zibtam> TIMEOUT 120)
add_dependencies(test_app_console_process zibtam)
