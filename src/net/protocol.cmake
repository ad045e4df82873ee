# Client/server protocol: frames, documents, the connection socket and the server's
# permission table. Frames, documents and permissions are plain C++ (fuzzed in the core
# build); the socket and the nested wait live on the Qt event loop.
target_sources(zibtam_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/Frame.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ProtocolDocument.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Permissions.cpp)
if(TARGET zibtam_net)
  target_sources(zibtam_net PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/BusyWait.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TaskSocket.cpp)
endif()
