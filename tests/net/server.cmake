zt_add_test(NAME test_net_server LABEL net QT TIMEOUT 60
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/ServerTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ServerRobustnessTest.cpp
  LIBS zibtam_net)
zt_add_test(NAME test_net_client LABEL net QT TIMEOUT 60
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ClientTest.cpp
  LIBS zibtam_net Qt6::Network)
zt_add_test(NAME test_net_upgrade LABEL net QT TIMEOUT 60
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/UpgradeTest.cpp
  LIBS zibtam_net)
