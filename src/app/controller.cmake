# The chat window's decisions without the window (controller, networking manager, users
# list rules) and the terminal front ends built on them.
target_sources(zibtam_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ChatController.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ChatSession.cpp
  ${CMAKE_CURRENT_LIST_DIR}/NetworkManager.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UsersList.cpp)
target_sources(zibtam_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ConsoleText.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MessageLogFile.cpp)
if(TARGET zibtam_net)
  target_sources(zibtam_net PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/ConsoleFrontEnd.cpp
    ${CMAKE_CURRENT_LIST_DIR}/QtChatTimers.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DeadlinePoll.cpp
    ${CMAKE_CURRENT_LIST_DIR}/NetworkFactory.cpp)
endif()
