zt_add_test(NAME test_net_protocol LABEL unit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ProtocolFrameTest.cpp
  LIBS zibtam_core)
