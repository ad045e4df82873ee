# Settings every target of the project links: language level, warnings, Qt string hygiene.
add_library(zibtam_options INTERFACE)
target_compile_features(zibtam_options INTERFACE cxx_std_20)
target_compile_options(zibtam_options INTERFACE -Wall -Wextra -Wnon-virtual-dtor -Wold-style-cast
                                               -Wshadow -Wpedantic -Woverloaded-virtual)
# CI builds treat every warning as an error; a local build only shows them.
if("$ENV{CI}" STREQUAL "true")
  target_compile_options(zibtam_options INTERFACE -Werror)
endif()
target_compile_definitions(zibtam_options INTERFACE QT_NO_CAST_FROM_ASCII QT_USE_QSTRINGBUILDER)
target_include_directories(zibtam_options INTERFACE ${PROJECT_SOURCE_DIR}/src)

# Debian's hardening flags, as dpkg-buildflags gives them. Read-only relocations bound at
# start (link flags) always; fortified functions and the stack protector (compile flags)
# with ZT_HARDENING, which ./run and ./test set, so the package is built with them.
# Optimisation and debugging flags stay the build type's; -Wdate-time is left out, as the
# About box shows the build date on purpose. Sanitizer and fuzz builds do without (fortify
# hides faults from the sanitizers).
option(ZT_HARDENING "Compile with the distribution's hardening flags (dpkg-buildflags)" OFF)
find_program(ZT_DPKG_BUILDFLAGS dpkg-buildflags)
if(ZT_DPKG_BUILDFLAGS AND NOT ZT_SANITIZE AND NOT ZT_FUZZ)
  set(zt_hardening_compile "")
  set(zt_hardening_link "")
  foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                            ${ZT_DPKG_BUILDFLAGS} --get ${kind}
                    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    separate_arguments(flags UNIX_COMMAND "${flags}")
    foreach(flag IN LISTS flags)
      if(kind STREQUAL "LDFLAGS")
        list(APPEND zt_hardening_link ${flag})
      elseif(flag MATCHES "^(-D_FORTIFY_SOURCE|-fstack-|-fcf-protection|-Wformat|-Werror=format)")
        list(APPEND zt_hardening_compile ${flag})
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES zt_hardening_compile)
  # Fortified functions need optimisation; a Debug build would only warn.
  if(ZT_HARDENING)
    target_compile_options(zibtam_options INTERFACE
                           "$<$<NOT:$<CONFIG:Debug>>:${zt_hardening_compile}>")
  endif()
  target_link_options(zibtam_options INTERFACE ${zt_hardening_link})
endif()

# Adds every immediate subfolder of the current source folder that has a CMakeLists.txt,
# so modules can be added without editing a shared list.
function(zt_add_module_dirs)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# zt_add_test(NAME name LABEL unit|gui|x11|net SOURCES ... LIBS ... [QT|GUI] [TIMEOUT s] [ENV k=v ...])
# One GoogleTest executable is one CTest test. QT selects the shared main that creates a
# QCoreApplication, GUI the one that creates a QApplication (offscreen unless the label
# is x11, which runs under Xvfb).
function(zt_add_test)
  cmake_parse_arguments(T "QT;GUI" "NAME;LABEL;TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
  if(NOT T_LABEL)
    set(T_LABEL unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  if(T_GUI)
    target_link_libraries(${T_NAME} PRIVATE zt_test_main_gui)
  elseif(T_QT)
    target_link_libraries(${T_NAME} PRIVATE zt_test_main_qt)
  else()
    target_link_libraries(${T_NAME} PRIVATE zt_test_main)
  endif()
  target_link_libraries(${T_NAME} PRIVATE zibtam_options zt_test_support ${T_LIBS})
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  set(env ${T_ENV})
  if(T_GUI AND NOT T_LABEL STREQUAL "x11")
    list(APPEND env QT_QPA_PLATFORM=offscreen)
  endif()
  # The shared mains end with 77 when a case skipped (tests/support/RunTests.h).
  set_tests_properties(${T_NAME} PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${env}"
                       SKIP_RETURN_CODE 77)
endfunction()
