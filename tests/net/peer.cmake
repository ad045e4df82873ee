# The transport interface and the peer-to-peer transport over the simulated network.
zt_add_test(NAME test_net_peer LABEL unit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/TransportTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/PeerPacketTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/PeerTransportTest.cpp
  LIBS zibtam_core)

# The UDP service on a private loopback, and three computers in network namespaces each
# running the peer driver.
add_executable(peer_driver ${CMAKE_CURRENT_LIST_DIR}/peer_driver.cpp)
target_link_libraries(peer_driver PRIVATE zibtam_options zibtam_net)
zt_add_test(NAME test_net_peer_udp LABEL net QT
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PeerUdpTest.cpp
  LIBS zibtam_net TIMEOUT 60)
zt_add_test(NAME test_net_peer_namespaces LABEL net
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PeerNamespaceTest.cpp
  LIBS zibtam_core TIMEOUT 90)
target_compile_definitions(test_net_peer_namespaces PRIVATE
  PEER_DRIVER_PATH="$<TARGET_FILE:peer_driver>")
add_dependencies(test_net_peer_namespaces peer_driver)
