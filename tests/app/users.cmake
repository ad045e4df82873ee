# The "&To:" list: its rules in the model, and the widget over them (offscreen).
zt_add_test(NAME test_app_users LABEL unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/UsersListModelTest.cpp
            LIBS zibtam_core)
zt_add_test(NAME test_app_users_widget LABEL gui GUI
            SOURCES ${CMAKE_CURRENT_LIST_DIR}/UsersListWidgetTest.cpp LIBS zibtam_ui)
