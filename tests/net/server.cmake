zt_add_test(NAME test_net_server LABEL net QT TIMEOUT 60
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/ServerTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ServerRobustnessTest.cpp
  LIBS zibtam_net)
