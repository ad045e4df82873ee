# Client/server client, server and upgrade service, and the server alone (--server). How
# a server starts and the upgrade answers are plain C++; the rest lives on the Qt event loop.
target_sources(zibtam_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/ChatServer.cpp
                                   ${CMAKE_CURRENT_LIST_DIR}/UpgradeService.cpp)
if(TARGET zibtam_net)
  target_sources(zibtam_net PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/ServerMain.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TcpIpChatServer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TcpIpClient.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TcpIpServer.cpp)
endif()
