# Client/server protocol: frames, documents, the connection socket and the server's
# permission table. Frames, documents and permissions are plain C++ (fuzzed in the core
# build); the socket lives on the Qt event loop.
target_sources(zibtam_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/Frame.cpp)
