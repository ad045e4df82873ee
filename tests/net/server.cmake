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
add_executable(zt_server_host ${CMAKE_CURRENT_LIST_DIR}/ServerHostMain.cpp)
target_link_libraries(zt_server_host PRIVATE zibtam_net)
zt_add_test(NAME test_net_server_process LABEL net QT TIMEOUT 60
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ServerProcessTest.cpp
  LIBS zibtam_net)
target_compile_definitions(test_net_server_process PRIVATE
  ZT_SERVER_HOST="$<TARGET_FILE:zt_server_host>")
add_dependencies(test_net_server_process zt_server_host)
