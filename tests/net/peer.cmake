# The transport interface and the peer-to-peer transport over the simulated network.
zt_add_test(NAME test_net_peer LABEL unit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/TransportTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/PeerPacketTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/PeerTransportTest.cpp
  LIBS zibtam_core)
