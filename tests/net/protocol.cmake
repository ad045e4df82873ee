zt_add_test(NAME test_net_protocol LABEL unit
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/ProtocolFrameTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ProtocolDocumentTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PermissionsTest.cpp
  LIBS zibtam_core)
zt_add_test(NAME test_net_tasksocket LABEL net QT TIMEOUT 60
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/TaskSocketTest.cpp
  LIBS zibtam_net)
