# nx_add_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>] [RESOURCE_LOCK <lock>])
# Builds one GoogleTest executable and registers its tests with CTest.
# Labels: "unit" (also run under ASan+UBSan), "tsan" (run under ThreadSanitizer), "formats", "editor",
# "registry". A test that touches a shared, fixed-name resource names it as RESOURCE_LOCK.
find_package(GTest REQUIRED)
include(GoogleTest)

function(nx_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS;RESOURCE_LOCK;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  set_target_properties(${name} PROPERTIES CXX_VISIBILITY_PRESET default VISIBILITY_INLINES_HIDDEN OFF)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST TEST_LIST ${name}_TESTS PROPERTIES TIMEOUT ${T_TIMEOUT})
  # gtest_discover_tests keeps only the first element of a list-valued property, so the labels, resource
  # locks and environment are set on the discovered tests by an include file that CTest runs after the
  # discovery's own.
  set(props "LABELS \"${T_LABELS}\" TIMEOUT ${T_TIMEOUT}")
  if(T_RESOURCE_LOCK)
    string(APPEND props " RESOURCE_LOCK \"${T_RESOURCE_LOCK}\"")
  endif()
  if(T_ENV)
    string(APPEND props " ENVIRONMENT \"${T_ENV}\"")
  endif()
  set(f ${CMAKE_CURRENT_BINARY_DIR}/${name}_properties.cmake)
  file(WRITE ${f} "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES ${props})\nendif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${f})
endfunction()
