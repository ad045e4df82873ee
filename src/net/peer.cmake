# The transport interface, the peer-to-peer transport and its datagram services.
target_sources(zibtam_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/Transport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DeliveryReport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PeerPacket.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PeerTransport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimNetwork.cpp)
if(TARGET zibtam_net)
  target_sources(zibtam_net PRIVATE ${CMAKE_CURRENT_LIST_DIR}/UdpDatagramService.cpp)
endif()
